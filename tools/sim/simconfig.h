#pragma once

// Everything the command line can set: the simulated receivers, the stream, the signal and the faults.

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <cstdint>

namespace sim {

constexpr int kWindowDatagrams = 8;
constexpr int kDefaultRetransmitMs = 20;
constexpr int kDefaultMaxResends = 10;
constexpr double kDefaultTunedHz = 7200000.0;
constexpr double kDefaultNoiseDbfs = -95.0;
constexpr double kAttenuatorDb = 20.0;
constexpr std::array<double, 4> kSampleRatesHz = {39062.5, 78125.0, 156250.0, 312500.0};

// The 36-byte device-information block, field by field.
struct DeviceInfo
{
    quint16 rawWord0 = 0;
    quint16 deviceType = 2;
    quint16 versionMajor = 1;
    quint16 versionMinor = 4;
    quint32 rawValue8 = 0;
    quint32 rawValue16 = 0;
    quint32 statusFlags = 0x8DF; // PLL present, both locks, references, VCXO, clocks, internal mode
    quint32 pcbRevision = 3;
};

struct ReceiverConfig
{
    QString address;      // dotted IPv4; empty or 0.0.0.0 binds every local address
    quint16 port = 50001; // 0 lets the system pick one (it is printed before the ready line)
    quint32 serialNumber = 123;
    quint8 serialByteA = 0x0A;
    quint8 serialByteB = 0x1F;
    DeviceInfo info;
};

struct Calibration
{
    std::array<double, 8> values = {0.0, 0.5, -0.25, 1.0, 0.0, 0.0, 0.0, 0.0};
    double factor = 1.0000125;
};

struct Tone
{
    double hz;
    double dbfs;
};

enum class SignalKind { Pattern, Tones };

struct Range
{
    quint64 at;
    quint64 count;
    bool contains(quint64 k) const { return k >= at && k - at < count; }
};

struct FaultConfig
{
    quint64 seed = 1;
    double drop = 0, dup = 0, reorder = 0, garbage = 0;
    QVector<Range> burstLoss;
    QVector<Range> loseForGood;
    QVector<QPair<quint64, quint16>> restartSeq; // datagram index -> new sequence number
    QVector<QPair<quint64, int>> silenceMs;      // datagram index -> milliseconds of silence before it
    QVector<quint16> ignoreCmd;
    QVector<QPair<quint16, int>> shortReply; // command code -> reply length in bytes
    QVector<QPair<quint16, int>> loseReply;  // command code -> how many of its first replies are lost
};

// What a start command does that comes while the stream it started runs: a receiver may take it as
// a new start (numbering from the start sequence again, the window's datagrams given up) or as a
// repeat of the one it is serving.
enum class RepeatedStart { Restart, Ignore };

struct SimConfig
{
    QVector<ReceiverConfig> receivers;
    quint16 discoveryPort = 50001; // 0: system-chosen, printed before the ready line
    quint16 startSeq = 0;
    RepeatedStart repeatedStart = RepeatedStart::Restart;
    int retransmitMs = kDefaultRetransmitMs;
    int maxResends = kDefaultMaxResends;
    double speed = 1.0;
    double durationS = 0; // 0: until a signal
    SignalKind signal = SignalKind::Pattern;
    QVector<Tone> tones;
    double noiseDbfs = kDefaultNoiseDbfs;
    Calibration calibration;
    FaultConfig faults;
    QString logPath;
    QString summaryPath;
};

QVector<Tone> defaultTones();

} // namespace sim
