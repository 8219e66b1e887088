#pragma once

#include "platform/wakesignal.h"
#include "stream/dspabstract.h"

#include <atomic>
#include <memory>

class SampleFifo;

// Collects the stream receiver's 200-pair pushes in a FIFO and hands the host 2048-pair blocks
// from a delivery thread of its own. The samples pass through unchanged.
class TarnixDsp : public DspAbstract
{
    Q_OBJECT
public:
    // 3.4 s at 312500 samples/s (8 MiB), as the SoapySDR module's buffer. After a lost datagram the
    // receiver resends it 20 ms later and then catches up in one burst of everything it held back;
    // 4096 pairs (13 ms) overflowed on every such burst. 65536 held that, but at 32 times the top
    // rate it is 7 ms, and a busy 2-core machine held the delivery thread back for 6 ms: the ring is
    // sized for the stalls of a busy machine at the highest rate the stream thread can carry (50 ms
    // at 64 times). Delivery hands over every whole block waiting as soon as it wakes, so a late
    // wake-up costs only time.
    static constexpr int kFifoCapacityPairs = 1 << 20;
    static constexpr int kBlockPairs = 2048;
    // The delivery thread waits for a whole block; a push that completes one wakes it, as does every
    // stop, and a wake-up is never lost. The bound is a last guard only, long enough that a silent
    // stream costs one wake-up a second.
    static constexpr int kMaxWaitMs = 1000;
    // When blocks come faster than one per this time (2 MS/s) the thread stops being woken for each:
    // it looks at the FIFO on its own every this long, until a look finds nothing. At high rates a
    // block completes every few datagrams, and the wake-up cost the stream thread more than its
    // datagrams did; the host then gets its blocks a few at a time, at most this much later.
    static constexpr int kWakeGapMs = 1;
    // So much waiting wakes the thread whatever it does (a coarse timer can stretch its looks).
    static constexpr unsigned int kWakeAnywayPairs = 64 * kBlockPairs;

    explicit TarnixDsp(QObject *parent = nullptr);
    ~TarnixDsp() override;

    // Discards whatever an earlier stream left in the FIFO, then starts delivering to `callback`.
    // `mode` is the stream's start mode; delivery does not depend on it.
    void startOutput(quint16 mode, HostCallback callback) override;
    // Returns once the delivery thread has ended; no callback runs after that.
    bool stopOutput() override;
    // Queues `count` pairs for delivery; `work` and `aux` are not used. Always false.
    bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) override;

    // Pairs waiting in the FIFO.
    unsigned int queuedPairs() const;

protected:
    void run() override;

private:
    std::unique_ptr<SampleFifo> m_fifo;
    std::atomic<bool> m_running{false};
    // Atomic because a second startOutput may replace it while the delivery thread reads it.
    std::atomic<HostCallback> m_callback{nullptr};
    // Notified when a push leaves a whole block waiting while the thread rests, and to stop.
    platform::WakeSignal m_blockWaiting;
    // Set while the delivery thread waits for a notification (not on its own timer). Written before
    // and read after the FIFO's mutex, which orders it against the pushes: a push either sees it set
    // or is seen by the thread's last look at the FIFO.
    std::atomic<bool> m_resting{false};
};
