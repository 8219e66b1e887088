#pragma once

#include <QByteArray>

#include <array>

// The receiver's calibration, all zero until a read with a matching CRC.
struct CalibrationData
{
    // Element 0 is a gain in dB; the others are forwarded knowledge the plug-in does not use.
    std::array<double, 8> calibration{};
    double correctionPercent = 0.0;
};

namespace calibration {

enum class Outcome {
    Failed,      // too short, or a status word other than 1
    CrcMismatch, // accepted, but the values must not be used
    Valid,
};

// Checks an answered calibration reply and, when valid, decodes it into `out` (may be null).
// `out` is written only for Outcome::Valid; nothing past the reply's end is read.
Outcome decodeReply(const QByteArray &reply, CalibrationData *out);

} // namespace calibration
