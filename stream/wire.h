#pragma once

// Byte layout shared by the plug-in and the receiver: sizes, codes and little-endian field access.
// Every multi-byte field on the wire is little-endian; read and write them only through these helpers,
// after checking the buffer is long enough.

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>

#include <cstring>

namespace wire {

constexpr quint16 kDefaultPort = 50001;

// Stream datagram: 10-byte header, then 200 samples of I and Q, 3 bytes each.
constexpr int kStreamDatagramBytes = 1210;
constexpr int kStreamHeaderBytes = 10;
constexpr int kAckBytes = 10;
constexpr int kPairsPerDatagram = 200;
constexpr int kSampleBytes = 3;
constexpr int kCodeOffset = 2;
constexpr int kStreamClearedOffset = 4;
constexpr int kSequenceOffset = 6;
constexpr int kAuxOffset = 9;
constexpr int kMinDatagramBytes = 4; // enough to read the code word

// Codes in the 16-bit word at offset 2.
constexpr quint16 kCodeStream = 0xFFFE;
constexpr quint16 kCodeDiscard = 0xFFFC;
constexpr quint16 kCmdStartStream = 0x0001;
constexpr quint16 kCmdStopStream = 0x0002;
constexpr quint16 kCmdAttenuator = 0x0005;
constexpr quint16 kCmdTuning = 0x0008;
constexpr quint16 kCmdCalibration = 0x000E;
constexpr quint16 kCmdDeviceInfo = 0x001A;
constexpr quint16 kCmdLpf = 0x001B;

// Control datagram header: 12 FF, code, payload length, channel, status, reserved.
constexpr quint8 kSignature0 = 0x12;
constexpr quint8 kSignature1 = 0xFF;
constexpr int kControlHeaderBytes = 18;
constexpr int kPayloadLengthOffset = 4;
constexpr int kChannelOffset = 6;
constexpr int kStatusOffset = 10;
constexpr int kReservedOffset = 14;

constexpr int kStartStreamBytes = 68;
constexpr int kStopStreamBytes = 22;
constexpr int kAttenuatorBytes = 22;
constexpr int kTuningBytes = 26;
constexpr int kLpfBytes = 22;
constexpr int kCalibrationRequestBytes = 18;
constexpr int kDeviceInfoRequestBytes = 18;
constexpr int kCalibrationReplyBytes = 94;
constexpr int kDeviceInfoReplyBytes = 54;
constexpr int kDeviceInfoBlockBytes = 36;

// Discovery: a fixed 24-byte request, and 24-byte replies opening with 12 FF 01 1A.
constexpr int kDiscoveryRequestBytes = 24;
constexpr int kDiscoveryReplyBytes = 24;

inline quint16 readU16(const uchar *d) { return qFromLittleEndian<quint16>(d); }
inline quint32 readU32(const uchar *d) { return qFromLittleEndian<quint32>(d); }
inline quint64 readU64(const uchar *d) { return qFromLittleEndian<quint64>(d); }
inline double readF64(const uchar *d)
{
    const quint64 bits = readU64(d);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
inline void writeU16(uchar *d, quint16 v) { qToLittleEndian<quint16>(v, d); }
inline void writeU32(uchar *d, quint32 v) { qToLittleEndian<quint32>(v, d); }
inline void writeU64(uchar *d, quint64 v) { qToLittleEndian<quint64>(v, d); }
inline void writeF64(uchar *d, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    writeU64(d, bits);
}

inline const uchar *bytes(const QByteArray &d) { return reinterpret_cast<const uchar *>(d.constData()); }
inline uchar *bytes(QByteArray &d) { return reinterpret_cast<uchar *>(d.data()); }

// QByteArray forms; the caller has checked that at + width <= d.size().
inline quint16 readU16(const QByteArray &d, int at) { return readU16(bytes(d) + at); }
inline quint32 readU32(const QByteArray &d, int at) { return readU32(bytes(d) + at); }
inline quint64 readU64(const QByteArray &d, int at) { return readU64(bytes(d) + at); }
inline double readF64(const QByteArray &d, int at) { return readF64(bytes(d) + at); }
inline void writeU16(QByteArray &d, int at, quint16 v) { writeU16(bytes(d) + at, v); }
inline void writeU32(QByteArray &d, int at, quint32 v) { writeU32(bytes(d) + at, v); }
inline void writeU64(QByteArray &d, int at, quint64 v) { writeU64(bytes(d) + at, v); }
inline void writeF64(QByteArray &d, int at, double v) { writeF64(bytes(d) + at, v); }

// The code word of any datagram, or -1 when it is too short to carry one.
inline int codeOf(const QByteArray &d) { return d.size() >= kMinDatagramBytes ? readU16(d, kCodeOffset) : -1; }

} // namespace wire
