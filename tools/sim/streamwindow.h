#pragma once

// The stream side of one simulated receiver: paces new datagrams against a monotonic clock, keeps the
// last unacknowledged ones in a window, resends them after a timeout and applies the stream faults.
// Time is passed in, so the whole behaviour can be driven step by step.

#include "protocol/stream.h"
#include "tools/sim/simconfig.h"

#include <array>
#include <limits>

namespace sim {

class FaultPlan;
class SignalSource;
class SimStats;

class DatagramSink
{
public:
    virtual ~DatagramSink() = default;
    virtual void sendStream(const uchar *d, int len) = 0;
};

struct StreamTiming
{
    int retransmitUs = kDefaultRetransmitMs * 1000;
    int maxResends = kDefaultMaxResends; // 0: resend for ever
    double speed = 1.0;
    quint16 startSeq = 0;
};

constexpr qint64 kNever = std::numeric_limits<qint64>::max();
// Behind schedule by more than this (window full, a stalled process), the schedule starts afresh
// instead of bursting out everything that is overdue.
constexpr qint64 kMaxLagUs = 50000;
constexpr quint8 kStreamMarker0 = 0x12;
constexpr quint8 kStreamMarker1 = 0xFF;

class StreamWindow
{
public:
    StreamWindow(SignalSource &signal, FaultPlan &faults, SimStats &stats, const StreamTiming &timing,
                 quint8 receiverIndex);

    // Starts (or restarts) the stream: numbering from the start sequence. The sample counter runs on
    // from where the last stream left it, as a receiver's clock does, so a restarted stream carries
    // new samples, never the ones sent before.
    void start(int rateIndex, qint64 nowUs);
    void stop();
    bool streaming() const { return m_streaming; }

    // Sends whatever is due at nowUs: retransmissions first, then new datagrams while the window has room.
    void poll(qint64 nowUs, DatagramSink &sink);
    // The next time poll has something to do, or kNever.
    qint64 nextWakeUs() const;
    // Takes a 10-byte acknowledgement; false if the datagram is not one.
    bool acknowledge(const uchar *d, int len, qint64 nowUs);

    int inFlight() const;
    double periodUs() const { return m_periodUs; }
    quint64 generated() const { return m_next; }

private:
    struct Slot
    {
        bool used = false;
        quint64 index = 0;
        qint64 lastSentUs = 0;
        int resends = 0;
        std::array<uchar, wire::kStreamDatagramBytes> data{};
    };

    qint64 dueUs(quint64 k) const { return m_t0Us + qint64(double(k - m_kBase) * m_periodUs); }
    void resendDue(qint64 nowUs, DatagramSink &sink);
    bool generate(qint64 nowUs, DatagramSink &sink);
    void transmit(const uchar *d, DatagramSink &sink, qint64 nowUs);
    void flushHeld(DatagramSink &sink);
    Slot *freeSlot();

    SignalSource &m_signal;
    FaultPlan &m_faults;
    SimStats &m_stats;
    StreamTiming m_timing;
    quint8 m_receiverIndex;

    bool m_streaming = false;
    double m_periodUs = 0;
    qint64 m_t0Us = 0;
    quint64 m_kBase = 0;
    quint64 m_next = 0;       // index of the next datagram to generate in this stream
    quint64 m_nextSample = 0; // the first sample of the next datagram, counted since the first start
    quint16 m_nextSeq = 0;
    qint64 m_silentUntilUs = 0;
    quint64 m_silenceDoneAt = std::numeric_limits<quint64>::max();
    std::array<Slot, kWindowDatagrams> m_slots{};

    // One datagram held back by the reorder fault until the next one has gone out.
    bool m_holding = false;
    qint64 m_heldSinceUs = 0;
    std::array<uchar, wire::kStreamDatagramBytes> m_held{};
    std::array<uchar, 1400> m_garbage{};
};

} // namespace sim
