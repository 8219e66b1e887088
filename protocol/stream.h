#pragma once

// The stream datagram and its acknowledgement (the datagram's first ten bytes sent back).

#include "protocol/datagram.h"

namespace wire {

// Stream datagram: 10-byte header, then 200 samples of I and Q, 3 bytes each.
constexpr int kStreamDatagramBytes = 1210;
constexpr int kStreamHeaderBytes = 10;
constexpr int kAckBytes = 10;
constexpr int kPairsPerDatagram = 200;
constexpr int kSampleBytes = 3;
constexpr int kStreamClearedOffset = 4;
constexpr int kSequenceOffset = 6;
constexpr int kAuxOffset = 9;

} // namespace wire
