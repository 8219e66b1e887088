#pragma once

#include "stream/dspabstract.h"
#include "stream/samplefifo.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// The sample output of a SoapySDR device: the stream receiver pushes into a FIFO that the client's
// readStream drains with its own timeout. Where pairs were lost (a gap the stream gave up on, or a
// push that found the FIFO full) the reader is told once, before the pairs that follow the loss.
// No thread of its own: the client's reading thread is the delivery thread.
class StreamSink : public DspAbstract
{
public:
    // 8 MiB, about 3.4 s at 312500 samples/s: room for a client that is slow for a moment, such as a
    // flowgraph still starting up, and for the start's 50 ms settle at rates far above the receiver's.
    static constexpr int kCapacityPairs = 1 << 20;
    // A reader with room for more waits for this many pairs (6.6 ms at 312500 samples/s) rather than
    // waking for every datagram's 200; what is there when its timeout ends is returned all the same.
    static constexpr size_t kWakePairs = 2048;

    enum class Read {
        Data,    // `*got` pairs were copied out
        Loss,    // pairs were lost right here; reported once
        Timeout, // nothing came in time
    };

    explicit StreamSink(QObject *parent = nullptr);

    // Empties the FIFO and forgets earlier losses: a new stream begins. The callback is not used.
    void startOutput(quint16 mode, HostCallback callback) override;
    // Empties the FIFO too; pairs pushed until the next start are dropped.
    bool stopOutput() override;
    bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) override;
    void streamGap() override;

    // Waits up to `timeout` for min(maxPairs, kWakePairs) pairs or a loss, then copies what is there,
    // at most `maxPairs` and never across a loss. Timeout only when nothing came at all.
    Read read(IqPair *out, size_t maxPairs, std::chrono::microseconds timeout, size_t *got);

    // Pushes that found the FIFO full, and gaps the stream gave up on, since construction.
    quint64 overruns() const;
    quint64 streamGaps() const;

private:
    void markLossLocked();
    void beginLocked(bool accepting);

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    SampleFifo m_fifo{kCapacityPairs};
    bool m_accepting = false; // between startOutput and stopOutput
    quint64 m_written = 0;    // pairs pushed since the stream began
    quint64 m_read = 0;       // pairs read since the stream began
    size_t m_wakeAt = 1;      // fill level at which a push wakes the waiting reader
    // Positions (in pairs written) where pairs were lost, oldest first; each is reported once.
    std::deque<quint64> m_losses;
    quint64 m_overruns = 0;
    quint64 m_streamGaps = 0;
};
