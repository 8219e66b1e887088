#include "stream/streamsequencer.h"

#include "stream/dspabstract.h"
#include "tests/support/fakereceiver.h"
#include "tools/sim/pattern.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

// The sequencer against a model receiver and path, at random, one new datagram per step: an
// eight-datagram window resent whole when its oldest times out (given up after ten resends),
// losses both ways, duplicates, stalls of the reading side, late copies of recent datagrams, and
// numbering restarts with new samples, the window given up or kept. Whatever arrives, no samples
// may be forwarded twice, and a jump in them, or the first samples of a new numbering, must follow
// a reported gap.

namespace {

constexpr int kWindow = 8, kRetransmitSteps = 20, kMaxResends = 10, kLateCopyDepth = 16;
constexpr int kSteps = 6000, kSeeds = 100;
constexpr qint64 kGap = -1;

struct Datagram
{
    quint16 seq;
    quint64 content; // the receiver's sample counter in datagrams: never the same twice
    int sentAt = 0, resends = 0;
};

struct Recorder : DspAbstract
{
    void startOutput(quint16, HostCallback) override {}
    bool stopOutput() override { return true; }
    bool pushSamples(const IqPair *pairs, void *, int, quint8) override
    {
        uint64_t n = 0;
        pattern::decode(pairs[0].i, pairs[0].q, &n);
        events.push_back(qint64(n / wire::kPairsPerDatagram));
        return true;
    }
    void streamGap(quint64) override { events.push_back(kGap); }
    std::vector<qint64> events;
};

struct Model
{
    explicit Model(unsigned seed) : rng(seed) {}

    bool percent(int p) { return int(rng() % 100) < p; }
    int between(int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); }

    // Never onto a number the plug-in could still reach through what is on the way or waits to be
    // resent: the restart could not be told from the stream going on. A receiver that keeps
    // resending its window under the old numbers does not restart just behind them either, which
    // would put two datagrams under one number at once.
    void restart()
    {
        const bool keepWindow = percent(50);
        const quint16 expected = sequencer.expectedSequence();
        qint16 lo = 0, hi = 0; // relative to expected
        const auto widen = [&](quint16 seq) {
            const qint16 d = qint16(quint16(seq - expected));
            if (qAbs(int(d)) < 4096) {
                lo = qMin(lo, d);
                hi = qMax(hi, qint16(d + 1));
            }
        };
        widen(quint16(nextSeq - 1));
        for (const Datagram &d : window)
            widen(d.seq);
        for (const Datagram &d : path)
            widen(d.seq);
        if (keepWindow)
            lo = qint16(lo - (kMaxResends + 1) * kRetransmitSteps - kWindow);
        qint16 target;
        do {
            const int kind = int(rng() % 3);
            target = kind == 0   ? qint16(lo - between(1, 40))
                     : kind == 1 ? qint16(hi + between(1, 40))
                                 : qint16(rng());
        } while (target >= lo && target <= hi);
        nextSeq = quint16(expected + target);
        ++epoch;
        if (!keepWindow)
            window.clear(); // given up: its samples never arrive
    }

    void transmit(const Datagram &d)
    {
        recent.push_back(d);
        if (recent.size() > size_t(kLateCopyDepth))
            recent.pop_front();
        if (!percent(lossPercent))
            path.push_back(d);
        if (percent(dupPercent))
            path.push_back(d);
        if (percent(latePercent))
            path.push_back(recent[rng() % recent.size()]);
    }

    void step(int now, bool faults)
    {
        if (faults && rng() % 1500 == 0)
            restart();
        if (faults && now >= stalledUntil && rng() % 400 == 0)
            stalledUntil = now + between(10, 400);
        if (window.size() < size_t(kWindow)) {
            window.push_back({nextSeq++, epochOf.size(), now});
            epochOf.push_back(epoch);
            transmit(window.back());
        }
        if (!window.empty() && now - window.front().sentAt >= kRetransmitSteps) {
            for (auto it = window.begin(); it != window.end();) {
                if (it->resends++ == kMaxResends) {
                    it = window.erase(it);
                    continue;
                }
                it->sentAt = now;
                transmit(*it++);
            }
        }
        for (int n = between(1, 12); now >= stalledUntil && n > 0 && !path.empty(); --n) {
            QByteArray d = testsupport::patternDatagram(path.front().seq, path.front().content * 200);
            path.pop_front();
            if (!StreamSequencer::acknowledges(sequencer.handle(wire::bytes(d), d.size())) ||
                percent(lossPercent))
                continue;
            const quint16 acked = wire::readU16(d, wire::kSequenceOffset);
            for (auto it = window.begin(); it != window.end(); ++it) {
                if (it->seq == acked) {
                    window.erase(it);
                    break;
                }
            }
        }
    }

    // The first broken promise, or an empty string.
    std::string verdict() const
    {
        std::vector<bool> forwarded(epochOf.size());
        qint64 last = -1;
        bool gap = false;
        for (const qint64 e : recorder.events) {
            if (e == kGap) {
                gap = true;
                continue;
            }
            if (e >= qint64(forwarded.size()))
                return "samples never sent";
            if (forwarded[size_t(e)])
                return "datagram " + std::to_string(e) + " forwarded twice";
            forwarded[size_t(e)] = true;
            if (last >= 0 && !gap && (e != last + 1 || epochOf[size_t(e)] != epochOf[size_t(last)]))
                return "unreported jump from " + std::to_string(last) + " to " + std::to_string(e);
            last = e;
            gap = false;
        }
        return last < 0 ? "nothing forwarded" : "";
    }

    std::mt19937 rng;
    Recorder recorder;
    StreamSequencer sequencer{&recorder};
    std::deque<Datagram> window, path, recent;
    std::vector<int> epochOf; // by content
    quint16 nextSeq = 0;
    int epoch = 0, stalledUntil = 0;
    int lossPercent = 2, dupPercent = 1, latePercent = 2;
};

} // namespace

TEST(StreamSequencerProperty, NoSamplesTwiceAndEveryRestartAGap)
{
    int restarts = 0;
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        Model m(seed);
        for (int now = 0; now < kSteps; ++now)
            m.step(now, true);
        // Quiet to the end: everything in flight is delivered or given up.
        m.lossPercent = m.dupPercent = m.latePercent = 0;
        for (int now = kSteps; now < kSteps + 40 * kRetransmitSteps; ++now)
            m.step(now, false);
        EXPECT_EQ(m.verdict(), "") << "seed " << seed;
        restarts += m.epoch;
    }
    EXPECT_GT(restarts, kSeeds) << "the model must really restart";
}
