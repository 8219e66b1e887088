#pragma once

#include "soapy/resampler.h"
#include "stream/dspabstract.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// The sample output of a SoapySDR device: the stream receiver pushes into a ring that the client's
// readStream drains with its own timeout. Where pairs were lost (a gap the stream gave up on, or a
// push that found the ring full) the reader is told once, before the pairs that follow the loss,
// and every pair keeps its place on the stream's timeline, lost ones included. A resampled stream
// keeps the receiver's pairs in the ring and hands the reader 4 for every 5 (see Resampler), on the
// timeline of its own rate, where a loss of n pairs counts as 4n/5. No thread of its own: the
// client's reading thread is the delivery thread, and does the resampling.
class StreamSink : public DspAbstract
{
public:
    using Clock = std::chrono::steady_clock;
    // 8 MiB, about 3.4 s at 312500 samples/s: room for a client that is slow for a moment, such as a
    // flowgraph still starting up, and for the start's 50 ms settle at rates far above the receiver's.
    static constexpr size_t kCapacityPairs = size_t(1) << 20;
    // A reader with room for more waits for this many pairs (6.6 ms at 312500 samples/s) rather than
    // waking for every datagram's 200; what is there when its timeout ends is returned all the same.
    static constexpr size_t kWakePairs = 2048;
    // A read of a resampled stream gives at most this many pairs (16 ms at 250000 samples/s): the
    // filter works under the lock the stream receiver pushes through, about 20 ns a pair, and so
    // holds it for well under 0.1 ms.
    static constexpr size_t kMaxResampledPairs = 4096;
    // Nor does it hold pairs back for longer than this, however long its timeout.
    static constexpr std::chrono::milliseconds kMaxHold{50};
    // An activated stream that has had nothing for this long is reported silent, and again every
    // kSilentRepeat after that while it stays so.
    static constexpr std::chrono::milliseconds kSilentAfter{1000};
    static constexpr std::chrono::milliseconds kSilentRepeat{3000};

    enum class Read {
        Data,    // `pairs` pairs were written out; `timeNs` is the first one's time
        Loss,    // pairs were lost right here (reported once); `timeNs` is the next pair's time
        Timeout, // nothing came in time
        Stopped, // the stream was stopped, deactivated or closed while waiting
        Silent,  // an activated stream has had nothing for `silentFor`
        Closed,  // no stream is set up
    };
    struct Result
    {
        Read what = Read::Timeout;
        size_t pairs = 0;
        long long timeNs = 0;
        Clock::duration silentFor{};
    };
    // Writes `n` pairs to the client's buffer `to`, starting at element `at`.
    using Convert = void (*)(const IqPair *from, size_t n, void *to, size_t at);

    explicit StreamSink(QObject *parent = nullptr);
    ~StreamSink() override;

    // The client's side: a stream is set up (or closed), activated (or not). A close or a
    // deactivation ends every reader's wait at once.
    void setOpen(bool open);
    void setExpecting(bool expecting);
    // The rate that timestamps count in, and whether the receiver's pairs are resampled by 4/5 to
    // it, for the streams started from now on.
    void setSampleRate(double samplesPerSecond, bool resampled);

    // A new stream begins: the ring empties, earlier losses are forgotten, time starts at 0.
    void startOutput(quint16 mode, HostCallback callback) override;
    // Empties the ring too; pairs pushed until the next start are dropped.
    bool stopOutput() override;
    bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) override;
    void streamGap(quint64 lostPairs) override;

    // Waits up to `timeout` for min(maxPairs, kWakePairs) pairs, a loss or a change of state, then
    // writes out what is there, at most `maxPairs` (and kMaxResampledPairs) and never across a loss.
    Result read(void *to, size_t maxPairs, Convert convert, std::chrono::microseconds timeout);

    // Losses reported to readers since construction.
    quint64 overflows() const;

private:
    struct Loss
    {
        quint64 at;       // pairs written before it
        quint64 resumeAt; // timeline index of the pair after it
    };

    void markLossLocked(quint64 lostPairs);
    void beginLocked(bool accepting);
    // Wakes every waiting reader to look again; a stop also ends their wait.
    void changedLocked(bool stopped);
    long long nanosecondsLocked(quint64 index) const;
    // What the next `pairs` in the ring give the reader, and how many of them give it `outputs`:
    // the same number unless the stream is resampled.
    quint64 outputsLocked(quint64 pairs) const;
    quint64 pairsForLocked(quint64 outputs) const;
    // The reader's timeline index of the next pair it gets.
    quint64 outputIndexLocked() const;
    // After a loss or at a start: no pair before it reaches the filter's outputs after it.
    void restartFilterLocked();
    // Writes the `outputs` pairs that the next `pairs` in the ring give, and takes those from it.
    size_t copyOutLocked(void *to, size_t outputs, quint64 pairs, Convert convert);
    void dropLocked(quint64 pairs);
    Clock::time_point silenceReportDueLocked() const;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::unique_ptr<IqPair[]> m_ring;
    size_t m_writeIndex = 0;
    size_t m_readIndex = 0;
    size_t m_fill = 0;
    bool m_open = false;
    bool m_expecting = false;
    bool m_accepting = false; // between startOutput and stopOutput
    quint64 m_stops = 0;      // counts stops, closes and deactivations, which end every wait
    double m_rate = 1.0;
    double m_streamRate = 1.0; // the rate of the stream now running
    bool m_resample = false;
    bool m_resampled = false; // the stream now running is resampled
    Resampler m_resampler;
    const std::unique_ptr<IqPair[]> m_resampledOut;
    quint64 m_filtered = 0;    // pairs through the filter since its restart
    quint64 m_outputBase = 0;  // the reader's timeline index of the filter's first output
    quint64 m_written = 0;     // pairs pushed since the stream began
    quint64 m_read = 0;        // pairs read since the stream began
    quint64 m_timeWritten = 0; // timeline index of the next pair pushed (lost pairs count)
    quint64 m_timeRead = 0;    // timeline index of the next pair read
    size_t m_wakeAt = 1;       // fill level at which a push wakes the readers
    std::deque<Loss> m_losses; // oldest first; each is reported once
    Clock::time_point m_lastArrival{};
    int m_silenceReports = 0; // since the last arrival
    quint64 m_overflows = 0;
};
