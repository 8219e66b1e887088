#pragma once

// Replies as a receiver would send them. Assembled in local buffers (not through QByteArray::data(),
// whose writes GCC's overflow analysis cannot follow in sanitizer builds).

#include "protocol/commands.h"

#include <QByteArray>

#include <array>
#include <vector>
#include <zlib.h>

inline void writeReplyHeader(uchar *d, quint16 code, int totalBytes, quint32 status)
{
    d[0] = wire::kSignature0;
    d[1] = wire::kSignature1;
    wire::writeU16(d + wire::kCodeOffset, code);
    wire::writeU16(d + wire::kPayloadLengthOffset, quint16(qMax(0, totalBytes - wire::kControlHeaderBytes)));
    wire::writeU32(d + wire::kStatusOffset, status);
}

inline QByteArray toByteArray(const std::vector<uchar> &b, int length)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), length);
}

inline QByteArray replyHeader(quint16 code, int totalBytes, quint32 status = 1)
{
    std::vector<uchar> b(size_t(qMax(totalBytes, wire::kControlHeaderBytes)), 0);
    writeReplyHeader(b.data(), code, totalBytes, status);
    return toByteArray(b, totalBytes);
}

// The same datagram with another status word.
inline QByteArray withStatus(QByteArray d, quint32 status)
{
    std::array<uchar, 4> s;
    wire::writeU32(s.data(), status);
    return d.replace(wire::kStatusOffset, 4, reinterpret_cast<const char *>(s.data()), 4);
}

// A 94-byte calibration reply with a correct CRC.
inline QByteArray calibrationReply(const std::array<double, 8> &values, double factor)
{
    std::vector<uchar> b(size_t(wire::kCalibrationReplyBytes), 0);
    writeReplyHeader(b.data(), wire::kCmdCalibration, wire::kCalibrationReplyBytes, 1);
    for (int i = 0; i < 8; ++i)
        wire::writeF64(b.data() + 22 + 8 * i, values[size_t(i)]);
    wire::writeF64(b.data() + 86, factor);
    wire::writeU32(b.data() + 18, quint32(crc32(0L, b.data() + 22, 72)));
    return toByteArray(b, wire::kCalibrationReplyBytes);
}

// A device-information reply of `totalBytes` (54 is the valid size) with a recognisable block:
// serial bytes FF 00, serial number 7, status flags PllPresent | RefModeInternal.
inline QByteArray deviceInfoReply(int totalBytes)
{
    std::vector<uchar> buffer(size_t(qMax(totalBytes, wire::kDeviceInfoReplyBytes)), 0);
    writeReplyHeader(buffer.data(), wire::kCmdDeviceInfo, totalBytes, 1);
    uchar *b = buffer.data() + wire::kControlHeaderBytes;
    wire::writeU16(b + 0, 0x1234);
    wire::writeU16(b + 2, 2);
    wire::writeU16(b + 4, 3);
    wire::writeU16(b + 6, 14);
    wire::writeU32(b + 8, 0xCAFEF00D);
    wire::writeU32(b + 12, 0xFFFFFFFF);
    wire::writeU32(b + 16, 0x01020304);
    wire::writeU32(b + 20, 7);
    b[24] = 0xFF;
    b[25] = 0x00;
    wire::writeU32(b + 28, 0x801);
    wire::writeU32(b + 32, 5);
    return toByteArray(buffer, totalBytes);
}
