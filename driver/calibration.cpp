#include "driver/calibration.h"

#include "protocol/commands.h"

#include <zlib.h>

namespace calibration {

namespace {

constexpr quint32 kStatusSuccess = 1;

} // namespace

Outcome decodeReply(const QByteArray &reply, CalibrationData *out)
{
    if (reply.size() < wire::kCalibrationReplyBytes)
        return Outcome::Failed;
    if (wire::readU32(reply, wire::kStatusOffset) != kStatusSuccess)
        return Outcome::Failed;

    const uLong crc = crc32(crc32(0L, Z_NULL, 0), wire::bytes(reply) + wire::kCalibrationValuesOffset,
                            wire::kCalibrationCrcBytes);
    if (quint32(crc) != wire::readU32(reply, wire::kCalibrationCrcOffset))
        return Outcome::CrcMismatch;

    if (out) {
        CalibrationData decoded;
        for (int i = 0; i < int(decoded.calibration.size()); ++i)
            decoded.calibration[i] = wire::readF64(reply, wire::kCalibrationValuesOffset + 8 * i);
        const double f = wire::readF64(reply, wire::kCalibrationFactorOffset);
        decoded.correctionPercent = (1.0 - f) * (-100.0);
        *out = decoded;
    }
    return Outcome::Valid;
}

} // namespace calibration
