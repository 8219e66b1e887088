#include "stream/streamsequencer.h"

#include "stream/dspabstract.h"
#include "tests/support/fakereceiver.h"
#include "tools/sim/pattern.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

// The sequencer against a model receiver on a model path, driven at random: an eight-datagram
// window resent whole when its oldest times out, losses on the way out and back, duplicates,
// stalls of the reading side, numbering restarts with new samples (the window given up, or kept
// and resent under the old numbers), and late copies of recent datagrams. Whatever arrives, no
// datagram's samples may be forwarded twice, any jump in the samples must follow a reported gap,
// and so must the first samples of a restarted numbering.

namespace {

constexpr int kWindow = 8;
constexpr int kRetransmitSteps = 20; // one new datagram per step: a 20 ms timeout at 400 datagrams/s
constexpr int kMaxResends = 10;
constexpr int kLateCopyDepth = 16;
// Numbers a kept window's resends may still carry while a new numbering runs on from behind them.
constexpr int kNeighbourhood = 4096;
constexpr int kKeptWindowClearance = (kMaxResends + 1) * kRetransmitSteps + kWindow;
constexpr int kSteps = 6000;
constexpr int kSeeds = 100;

struct Datagram
{
    quint16 seq;
    quint64 content; // the receiver's sample counter in datagrams: never the same twice
};

// Forwarded contents in order, and the gaps reported between them.
class RecordingDsp : public DspAbstract
{
public:
    static constexpr qint64 kGap = -1;
    void startOutput(quint16, HostCallback) override {}
    bool stopOutput() override { return true; }
    bool pushSamples(const IqPair *pairs, void *, int, quint8) override
    {
        uint64_t n = 0;
        events.push_back(pattern::decode(pairs[0].i, pairs[0].q, &n) ? qint64(n / wire::kPairsPerDatagram)
                                                                     : -2);
        return true;
    }
    void streamGap() override { events.push_back(kGap); }
    std::vector<qint64> events;
};

class Model
{
public:
    explicit Model(unsigned seed) : m_rng(seed), m_sequencer(&m_dsp) {}

    void run()
    {
        for (int step = 0; step < kSteps; ++step)
            this->step(step);
        // Quiet to the end: everything in flight is delivered or given up.
        m_lossPercent = m_dupPercent = m_latePercent = 0;
        for (int step = kSteps; step < kSteps + 40 * kRetransmitSteps; ++step)
            this->step(step, false);
    }

    // Returns a description of the first broken promise, or an empty string.
    std::string verdict() const
    {
        std::vector<bool> forwarded(m_epochOfContent.size());
        qint64 last = -1;
        bool gapSince = false;
        for (size_t i = 0; i < m_dsp.events.size(); ++i) {
            const qint64 e = m_dsp.events[i];
            if (e == RecordingDsp::kGap) {
                gapSince = true;
                continue;
            }
            if (e < 0 || e >= qint64(forwarded.size()))
                return "samples never sent, at event " + std::to_string(i);
            if (forwarded[size_t(e)])
                return "content " + std::to_string(e) + " forwarded twice";
            forwarded[size_t(e)] = true;
            if (last >= 0 && !gapSince && (e != last + 1 || epochOf(e) != epochOf(last)))
                return "unreported jump from " + std::to_string(last) + " to " + std::to_string(e);
            last = e;
            gapSince = false;
        }
        if (last < 0)
            return "nothing forwarded";
        return {};
    }

    int restarts() const { return m_epoch; }

private:
    bool percent(int p) { return int(m_rng() % 100) < p; }
    int between(int lo, int hi) { return lo + int(m_rng() % unsigned(hi - lo + 1)); }
    int epochOf(qint64 content) const { return m_epochOfContent[size_t(content)]; }

    void step(int now, bool faults = true)
    {
        if (faults && m_rng() % 1500 == 0)
            restart();
        if (faults && now >= m_stalledUntil && m_rng() % 400 == 0)
            m_stalledUntil = now + between(10, 400);
        generate(now);
        resendIfDue(now);
        if (now >= m_stalledUntil)
            read(between(1, 12));
    }

    // A new numbering, never onto the numbers the plug-in is still waiting for: from there on a
    // restart cannot be told from the stream going on. A receiver that goes on resending its
    // window under the old numbers never restarts a little behind them either: it would send two
    // datagrams under one number at once, which nothing could place.
    void restart()
    {
        const bool keepWindow = percent(50);
        // The plug-in's number, and every number it could still move on to through what is on the
        // way or waits to be resent, earlier numberings' included.
        const quint16 expected = m_sequencer.expectedSequence();
        quint16 lo = expected, hi = expected;
        const auto widen = [&](quint16 seq) {
            const qint16 d = qint16(quint16(seq - expected));
            if (qAbs(int(d)) > kNeighbourhood)
                return; // an old numbering far off: the plug-in gets there only by resynchronising
            if (d < qint16(lo - expected))
                lo = seq;
            if (d + 1 > qint16(hi - expected))
                hi = quint16(seq + 1);
        };
        widen(quint16(m_nextSeq - 1));
        for (const Slot &w : m_window)
            widen(w.d.seq);
        for (const Datagram &d : m_path)
            widen(d.seq);
        if (keepWindow)
            lo = quint16(lo - kKeptWindowClearance);
        quint16 target;
        do {
            switch (m_rng() % 3) {
            case 0:
                target = quint16(lo - between(1, 40)); // a little behind
                break;
            case 1:
                target = quint16(hi + between(1, 40)); // a little ahead
                break;
            default:
                target = quint16(m_rng());
            }
        } while (quint16(target - lo) <= quint16(hi - lo));
        m_nextSeq = target;
        ++m_epoch;
        if (!keepWindow)
            m_window.clear(); // given up: its samples never arrive
    }

    void generate(int now)
    {
        if (int(m_window.size()) >= kWindow)
            return;
        Slot s{{m_nextSeq++, m_nextContent++}, now, 0};
        m_epochOfContent.push_back(m_epoch);
        m_window.push_back(s);
        transmit(s.d);
    }

    void resendIfDue(int now)
    {
        if (m_window.empty() || now - m_window.front().sentAt < kRetransmitSteps)
            return;
        for (auto it = m_window.begin(); it != m_window.end();) {
            if (it->resends >= kMaxResends) {
                it = m_window.erase(it);
                continue;
            }
            ++it->resends;
            it->sentAt = now;
            transmit(it->d);
            ++it;
        }
    }

    void transmit(const Datagram &d)
    {
        m_recent.push_back(d);
        if (m_recent.size() > size_t(kLateCopyDepth))
            m_recent.pop_front();
        if (!percent(m_lossPercent))
            m_path.push_back(d);
        if (percent(m_dupPercent))
            m_path.push_back(d);
        if (percent(m_latePercent))
            m_path.push_back(m_recent[m_rng() % m_recent.size()]);
    }

    void read(int count)
    {
        for (; count > 0 && !m_path.empty(); --count) {
            const Datagram d = m_path.front();
            m_path.pop_front();
            QByteArray bytes = testsupport::patternDatagram(d.seq, d.content * wire::kPairsPerDatagram);
            if (!StreamSequencer::acknowledges(m_sequencer.handle(wire::bytes(bytes), bytes.size())))
                continue;
            if (percent(m_lossPercent))
                continue;
            const quint16 acked = wire::readU16(bytes, wire::kSequenceOffset);
            for (auto it = m_window.begin(); it != m_window.end(); ++it) {
                if (it->d.seq == acked) {
                    m_window.erase(it);
                    break;
                }
            }
        }
    }

    struct Slot
    {
        Datagram d;
        int sentAt;
        int resends;
    };

    std::mt19937 m_rng;
    RecordingDsp m_dsp;
    StreamSequencer m_sequencer;
    std::deque<Slot> m_window;
    std::deque<Datagram> m_path;
    std::deque<Datagram> m_recent;
    std::vector<int> m_epochOfContent;
    quint16 m_nextSeq = 0;
    quint64 m_nextContent = 0;
    int m_epoch = 0;
    int m_stalledUntil = 0;
    int m_lossPercent = 2, m_dupPercent = 1, m_latePercent = 2;
};

} // namespace

TEST(StreamSequencerProperty, NoSamplesTwiceAndEveryRestartAGap)
{
    int restarts = 0;
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        Model model(seed);
        model.run();
        EXPECT_EQ(model.verdict(), "") << "seed " << seed;
        restarts += model.restarts();
    }
    EXPECT_GT(restarts, kSeeds) << "the model must really restart";
}
