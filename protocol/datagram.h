#pragma once

// What every datagram on the receiver's port has in common: the port itself, the code word that
// tells stream data, discards and command replies apart, and the 18-byte control header.

#include "protocol/bytes.h"

namespace wire {

constexpr quint16 kDefaultPort = 50001;

// Codes in the 16-bit word at offset 2.
constexpr int kCodeOffset = 2;
constexpr int kMinDatagramBytes = 4; // enough to read the code word
constexpr quint16 kCodeStream = 0xFFFE;
constexpr quint16 kCodeDiscard = 0xFFFC;
constexpr quint16 kCmdStartStream = 0x0001;
constexpr quint16 kCmdStopStream = 0x0002;
constexpr quint16 kCmdAttenuator = 0x0005;
constexpr quint16 kCmdTuning = 0x0008;
constexpr quint16 kCmdCalibration = 0x000E;
constexpr quint16 kCmdDeviceInfo = 0x001A;
constexpr quint16 kCmdLpf = 0x001B;

// Control datagram header: 12 FF, code, payload length, channel, status, reserved. Discovery
// datagrams open with the same two signature bytes.
constexpr quint8 kSignature0 = 0x12;
constexpr quint8 kSignature1 = 0xFF;
constexpr int kControlHeaderBytes = 18;
constexpr int kPayloadLengthOffset = 4;
constexpr int kChannelOffset = 6;
constexpr int kStatusOffset = 10;
constexpr int kReservedOffset = 14;

// The code word of any datagram, or -1 when it is too short to carry one.
inline int codeOf(const QByteArray &d)
{
    return d.size() >= kMinDatagramBytes ? readU16(d, kCodeOffset) : -1;
}

} // namespace wire
