#include "tools/sim/simprotocol.h"

#include "protocol/commands.h"
#include "protocol/discovery.h"

#include <zlib.h>

namespace sim {

quint16 internetChecksum(const uchar *d, int len)
{
    quint32 sum = 0;
    for (int i = 0; i + 1 < len; i += 2)
        sum += wire::readU16(d + i);
    if (len % 2)
        sum += d[len - 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

QByteArray discoveryRequest()
{
    QByteArray d(wire::kDiscoveryRequestBytes, '\0');
    uchar *p = wire::bytes(d);
    p[0] = wire::kSignature0;
    p[1] = wire::kSignature1;
    p[2] = wire::kDiscoveryRequestCode;
    p[3] = wire::kDiscoveryTag;
    wire::writeU16(p + wire::kDiscoveryChecksumOffset, internetChecksum(p, wire::kDiscoveryRequestBytes));
    return d;
}

bool isDiscoveryRequest(const uchar *d, int len)
{
    static const QByteArray request = discoveryRequest();
    return len == wire::kDiscoveryRequestBytes && std::memcmp(d, request.constData(), size_t(len)) == 0;
}

QByteArray discoveryReply(const ReceiverConfig &rx, quint32 ipv4, quint16 port)
{
    QByteArray d(wire::kDiscoveryReplyBytes, '\0');
    uchar *p = wire::bytes(d);
    p[0] = wire::kSignature0;
    p[1] = wire::kSignature1;
    p[2] = wire::kDiscoveryReplyCode;
    p[3] = wire::kDiscoveryTag;
    wire::writeU32(p + wire::kDiscoverySerialNumberOffset, rx.serialNumber);
    p[wire::kDiscoverySerialByteAOffset] = rx.serialByteA;
    p[wire::kDiscoverySerialByteBOffset] = rx.serialByteB;
    // The address travels most significant byte first, unlike every other field.
    for (int i = 0; i < 4; ++i)
        p[wire::kDiscoveryAddressOffset + i] = uchar(ipv4 >> (24 - 8 * i));
    wire::writeU16(p + wire::kDiscoveryPortOffset, port);
    wire::writeU16(p + wire::kDiscoveryStatusOffset, 0);
    return d;
}

QString receiverIdentifier(quint32 serialNumber, quint8 a, quint8 b)
{
    return QStringLiteral("RVD01%1%2%3")
        .arg(a, 2, 16, QLatin1Char('0'))
        .arg(b, 2, 16, QLatin1Char('0'))
        .arg(serialNumber, 5, 10, QLatin1Char('0'));
}

bool hasControlSignature(const uchar *d, int len)
{
    return len >= wire::kControlHeaderBytes && d[0] == wire::kSignature0 && d[1] == wire::kSignature1;
}

int commandLength(quint16 code)
{
    switch (code) {
    case wire::kCmdStartStream:
        return wire::kStartStreamBytes;
    case wire::kCmdStopStream:
        return wire::kStopStreamBytes;
    case wire::kCmdAttenuator:
        return wire::kAttenuatorBytes;
    case wire::kCmdTuning:
        return wire::kTuningBytes;
    case wire::kCmdCalibration:
        return wire::kCalibrationRequestBytes;
    case wire::kCmdDeviceInfo:
        return wire::kDeviceInfoRequestBytes;
    case wire::kCmdLpf:
        return wire::kLpfBytes;
    default:
        return -1;
    }
}

QByteArray replyHeader(quint16 code, quint32 channel, int payloadLength)
{
    QByteArray d(wire::kControlHeaderBytes + payloadLength, '\0');
    uchar *p = wire::bytes(d);
    p[0] = wire::kSignature0;
    p[1] = wire::kSignature1;
    wire::writeU16(p + wire::kCodeOffset, code);
    wire::writeU16(p + wire::kPayloadLengthOffset, quint16(payloadLength));
    wire::writeU32(p + wire::kChannelOffset, channel);
    wire::writeU32(p + wire::kStatusOffset, 1);
    return d;
}

QByteArray calibrationReply(const Calibration &cal)
{
    QByteArray d =
        replyHeader(wire::kCmdCalibration, 0, wire::kCalibrationReplyBytes - wire::kControlHeaderBytes);
    uchar *p = wire::bytes(d);
    for (int i = 0; i < int(cal.values.size()); ++i)
        wire::writeF64(p + wire::kCalibrationValuesOffset + 8 * i, cal.values[size_t(i)]);
    wire::writeF64(p + wire::kCalibrationFactorOffset, cal.factor);
    const uLong crc =
        crc32(crc32(0L, Z_NULL, 0), p + wire::kCalibrationValuesOffset, wire::kCalibrationCrcBytes);
    wire::writeU32(p + wire::kCalibrationCrcOffset, quint32(crc));
    return d;
}

QByteArray deviceInfoReply(const ReceiverConfig &rx)
{
    QByteArray d = replyHeader(wire::kCmdDeviceInfo, 0, wire::kDeviceInfoBlockBytes);
    uchar *b = wire::bytes(d) + wire::kControlHeaderBytes;
    const DeviceInfo &i = rx.info;
    wire::writeU16(b + wire::kInfoRawWord0Offset, i.rawWord0);
    wire::writeU16(b + wire::kInfoDeviceTypeOffset, i.deviceType);
    wire::writeU16(b + wire::kInfoVersionMajorOffset, i.versionMajor);
    wire::writeU16(b + wire::kInfoVersionMinorOffset, i.versionMinor);
    wire::writeU32(b + wire::kInfoRawValue8Offset, i.rawValue8);
    wire::writeU32(b + wire::kInfoRawValue16Offset, i.rawValue16);
    wire::writeU32(b + wire::kInfoSerialNumberOffset, rx.serialNumber);
    b[wire::kInfoSerialByteAOffset] = rx.serialByteA;
    b[wire::kInfoSerialByteBOffset] = rx.serialByteB;
    wire::writeU32(b + wire::kInfoStatusFlagsOffset, i.statusFlags);
    wire::writeU32(b + wire::kInfoPcbRevisionOffset, i.pcbRevision);
    return d;
}

QByteArray commandReply(const uchar *request, int len, const ReceiverConfig &rx, const Calibration &cal)
{
    Q_UNUSED(len);
    const quint16 code = wire::readU16(request + wire::kCodeOffset);
    if (code == wire::kCmdCalibration)
        return calibrationReply(cal);
    if (code == wire::kCmdDeviceInfo)
        return deviceInfoReply(rx);
    return replyHeader(code, wire::readU32(request + wire::kChannelOffset), 0);
}

QByteArray resized(QByteArray reply, int len)
{
    const int old = reply.size();
    reply.resize(len);
    if (len > old)
        std::memset(reply.data() + old, 0, size_t(len - old));
    return reply;
}

int startRateIndex(const uchar *request)
{
    const quint16 word = wire::readU16(request + wire::kRateWordOffset);
    return word < kSampleRatesHz.size() ? int(word) : 0;
}

double tuningHz(const uchar *request)
{
    return double(wire::readU64(request + wire::kTuningValueOffset)) / 10.0;
}

quint32 switchValue(const uchar *request)
{
    return wire::readU32(request + wire::kSwitchValueOffset);
}

} // namespace sim
