#include "driver/calibration.h"

#include "stream/wire.h"

#include <zlib.h>

namespace calibration {

namespace {

constexpr int kCrcOffset = 18;
constexpr int kCoveredOffset = 22;
constexpr int kCoveredBytes = 72;
constexpr int kFactorOffset = 86;
constexpr quint32 kStatusSuccess = 1;

} // namespace

Outcome decodeReply(const QByteArray &reply, CalibrationData *out)
{
    if (reply.size() < wire::kCalibrationReplyBytes)
        return Outcome::Failed;
    if (wire::readU32(reply, wire::kStatusOffset) != kStatusSuccess)
        return Outcome::Failed;

    const uLong crc = crc32(crc32(0L, Z_NULL, 0), wire::bytes(reply) + kCoveredOffset, kCoveredBytes);
    if (quint32(crc) != wire::readU32(reply, kCrcOffset))
        return Outcome::CrcMismatch;

    if (out) {
        CalibrationData decoded;
        for (int i = 0; i < int(decoded.calibration.size()); ++i)
            decoded.calibration[i] = wire::readF64(reply, kCoveredOffset + 8 * i);
        const double f = wire::readF64(reply, kFactorOffset);
        decoded.correctionPercent = (1.0 - f) * (-100.0);
        *out = decoded;
    }
    return Outcome::Valid;
}

} // namespace calibration
