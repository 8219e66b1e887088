#pragma once

#include <QByteArray>
#include <QtGlobal>

// Byte-exact control datagrams: the 18-byte header (12 FF, code, payload length, channel, status 1,
// reserved 0) and each command's payload. Every byte is written; unnamed ones are 0.
namespace requests {

constexpr quint32 kReplyTimeoutMs = 20;
constexpr quint32 kCalibrationTimeoutMs = 40;
constexpr quint32 kDeviceInfoTimeoutMs = 100;

// 800 MHz in the 0.1 Hz units of the tuning command.
constexpr quint64 kMaxTuningValue = 8000000000ULL;
constexpr quint32 kStatusRequest = 1;

QByteArray header(quint16 code, quint16 payloadBytes, quint32 channel = 0);

// hz x 10 truncated toward zero; anything above 800 MHz, negative or not a number becomes 800 MHz.
quint64 tuningValue(double hz);

QByteArray startStream(int rateIndex, quint16 mode);
QByteArray stopStream();
QByteArray attenuator(quint32 value);
QByteArray tuning(quint32 channel, double hz);
QByteArray lowPassFilter(bool enable);
QByteArray calibrationRead();
QByteArray deviceInfoRead();

} // namespace requests
