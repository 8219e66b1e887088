#pragma once

// The discovery broadcast: a fixed 24-byte request (12 FF 00 1A, eighteen zero bytes, a checksum)
// and 24-byte replies opening with 12 FF 01 1A.

#include "protocol/datagram.h"

namespace wire {

constexpr int kDiscoveryRequestBytes = 24;
constexpr int kDiscoveryReplyBytes = 24;

// Bytes 2 and 3 after the signature.
constexpr quint8 kDiscoveryRequestCode = 0x00;
constexpr quint8 kDiscoveryReplyCode = 0x01;
constexpr quint8 kDiscoveryTag = 0x1A;

constexpr int kDiscoveryChecksumOffset = 22; // request
constexpr int kDiscoverySerialNumberOffset = 4;
constexpr int kDiscoverySerialByteAOffset = 8;
constexpr int kDiscoverySerialByteBOffset = 9;
constexpr int kDiscoveryAddressOffset = 10; // most significant byte first, unlike every other field
constexpr int kDiscoveryPortOffset = 18;
constexpr int kDiscoveryStatusOffset = 20;

} // namespace wire
