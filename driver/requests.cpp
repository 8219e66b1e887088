#include "driver/requests.h"

#include "control/ratetables.h"
#include "protocol/commands.h"

#include <array>
#include <cmath>

namespace requests {

namespace {

constexpr int kPayloadOffset = wire::kControlHeaderBytes;
constexpr int kLongestRequestBytes = wire::kStartStreamBytes;

// Datagrams are assembled in a zeroed local buffer, so every byte not named is 0.
using Buffer = std::array<uchar, kLongestRequestBytes>;

void writeHeader(uchar *d, quint16 code, quint16 payloadBytes, quint32 channel)
{
    d[0] = wire::kSignature0;
    d[1] = wire::kSignature1;
    wire::writeU16(d + wire::kCodeOffset, code);
    wire::writeU16(d + wire::kPayloadLengthOffset, payloadBytes);
    wire::writeU32(d + wire::kChannelOffset, channel);
    wire::writeU32(d + wire::kStatusOffset, kStatusRequest);
    wire::writeU32(d + wire::kReservedOffset, 0);
}

QByteArray toDatagram(const Buffer &b, int length)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), length);
}

QByteArray withU32Payload(quint16 code, quint32 value)
{
    Buffer b{};
    writeHeader(b.data(), code, 4, 0);
    wire::writeU32(b.data() + kPayloadOffset, value);
    return toDatagram(b, wire::kControlHeaderBytes + 4);
}

} // namespace

QByteArray header(quint16 code, quint16 payloadBytes, quint32 channel)
{
    Buffer b{};
    writeHeader(b.data(), code, payloadBytes, channel);
    return toDatagram(b, wire::kControlHeaderBytes);
}

quint64 tuningValue(double hz)
{
    const double tenths = hz * 10.0;
    // Converting a double outside the int64 range is undefined, so such values are clamped first;
    // negative results, read unsigned, exceed the limit as well.
    constexpr double kInt64Limit = 9.2e18;
    if (std::isnan(tenths) || tenths >= kInt64Limit || tenths <= -kInt64Limit)
        return kMaxTuningValue;
    const quint64 value = quint64(qint64(tenths));
    return value > kMaxTuningValue ? kMaxTuningValue : value;
}

QByteArray startStream(int rateIndex, quint16 mode)
{
    Buffer b{};
    writeHeader(b.data(), wire::kCmdStartStream, wire::kStartStreamBytes - wire::kControlHeaderBytes, 0);
    wire::writeU32(b.data() + wire::kStartZeroOffset, 0);
    wire::writeU16(b.data() + wire::kStartModeOffset, mode);
    QByteArray d = toDatagram(b, wire::kStartStreamBytes);
    ratetables::writeStartStreamRateFields(d, rateIndex);
    return d;
}

QByteArray stopStream()
{
    return withU32Payload(wire::kCmdStopStream, 0);
}

QByteArray attenuator(quint32 value)
{
    return withU32Payload(wire::kCmdAttenuator, value);
}

QByteArray tuning(quint32 channel, double hz)
{
    Buffer b{};
    writeHeader(b.data(), wire::kCmdTuning, 8, channel);
    wire::writeU64(b.data() + kPayloadOffset, tuningValue(hz));
    return toDatagram(b, wire::kTuningBytes);
}

QByteArray lowPassFilter(bool enable)
{
    return withU32Payload(wire::kCmdLpf, enable ? 1 : 0);
}

QByteArray calibrationRead()
{
    return header(wire::kCmdCalibration, 0);
}

QByteArray deviceInfoRead()
{
    return header(wire::kCmdDeviceInfo, 0);
}

} // namespace requests
