#pragma once

// The control commands and their replies: lengths and payload layouts. Payload offsets count from
// the start of the datagram, header included.

#include "protocol/datagram.h"

namespace wire {

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

// Start stream: eight 32-bit stage values, a zero word, the mode, the rate word twice and the rate
// byte twice.
constexpr int kStagesOffset = 18;
constexpr int kStartZeroOffset = 50;
constexpr int kStartModeOffset = 54;
constexpr int kRateWordOffset = 56; // and again at 58
constexpr int kRateByteOffset = 64; // and again at 65
constexpr int kStartStreamMinBytes = 66;

// Tuning: one 64-bit value in 0.1 Hz units. Attenuator and low-pass filter: one 32-bit value.
constexpr int kTuningValueOffset = 18;
constexpr int kSwitchValueOffset = 18;

// Calibration reply: a CRC-32 over the eight calibration values and the correction factor.
constexpr int kCalibrationCrcOffset = 18;
constexpr int kCalibrationValuesOffset = 22;
constexpr int kCalibrationCrcBytes = 72;
constexpr int kCalibrationFactorOffset = 86;

// Device-information reply: a block after the header; offsets count from the block's start.
constexpr int kInfoRawWord0Offset = 0;
constexpr int kInfoDeviceTypeOffset = 2;
constexpr int kInfoVersionMajorOffset = 4;
constexpr int kInfoVersionMinorOffset = 6;
constexpr int kInfoRawValue8Offset = 8;
constexpr int kInfoRawValue16Offset = 16;
constexpr int kInfoSerialNumberOffset = 20;
constexpr int kInfoSerialByteAOffset = 24;
constexpr int kInfoSerialByteBOffset = 25;
constexpr int kInfoStatusFlagsOffset = 28;
constexpr int kInfoPcbRevisionOffset = 32;

} // namespace wire
