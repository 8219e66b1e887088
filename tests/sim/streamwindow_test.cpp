// The stream side of a simulated receiver, driven step by step with a simulated clock.

#include "protocol/stream.h"
#include "tools/sim/faultplan.h"
#include "tools/sim/pattern.h"
#include "tools/sim/signalsource.h"
#include "tools/sim/simstats.h"
#include "tools/sim/streamwindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace sim;

namespace {

constexpr int kRate78k = 1; // 2560 us per datagram
constexpr qint64 kPeriod78kUs = 2560;

struct Sent
{
    qint64 tUs;
    QByteArray d;
    bool isStream() const
    {
        return d.size() == wire::kStreamDatagramBytes && wire::codeOf(d) == wire::kCodeStream;
    }
    quint16 seq() const { return wire::readU16(d, wire::kSequenceOffset); }
    quint64 firstSample() const
    {
        quint64 n = 0;
        const uchar *p = wire::bytes(d) + wire::kStreamHeaderBytes;
        n = quint64(p[0]) | quint64(p[1]) << 8 | quint64(p[2]) << 16;
        n |= (quint64(p[3]) | quint64(p[4]) << 8 | quint64(p[5]) << 16) << 24;
        return n;
    }
};

class Rig : public DatagramSink
{
public:
    explicit Rig(const FaultConfig &f = FaultConfig(), StreamTiming t = StreamTiming())
        : signal(SignalKind::Pattern, {}, -90, 1), faults(f), window(signal, faults, stats, t, 0)
    {}
    void sendStream(const uchar *d, int len) override
    {
        sent.push_back({now, QByteArray(reinterpret_cast<const char *>(d), len)});
    }
    // Polls every stepUs until endUs, acknowledging each stream datagram at once when ack is set.
    void runUntil(qint64 endUs, bool ack, qint64 stepUs = 100)
    {
        for (; now < endUs; now += stepUs) {
            window.poll(now, *this);
            if (ack)
                ackNew();
        }
    }
    void ackNew()
    {
        for (; acked < sent.size(); ++acked)
            if (sent[acked].isStream())
                ackDatagram(sent[acked].d);
    }
    bool ackDatagram(QByteArray d)
    {
        d.truncate(wire::kAckBytes);
        wire::writeU16(d, wire::kStreamClearedOffset, 0);
        return window.acknowledge(wire::bytes(d), d.size(), now);
    }
    std::vector<Sent> stream() const
    {
        std::vector<Sent> s;
        for (const Sent &x : sent)
            if (x.isStream())
                s.push_back(x);
        return s;
    }
    std::vector<quint16> seqs() const
    {
        std::vector<quint16> v;
        for (const Sent &x : stream())
            v.push_back(x.seq());
        return v;
    }

    SimStats stats;
    SignalSource signal;
    FaultPlan faults;
    StreamWindow window;
    std::vector<Sent> sent;
    size_t acked = 0;
    qint64 now = 1000000;
};

std::vector<quint16> range(quint16 from, int n)
{
    std::vector<quint16> v;
    for (int i = 0; i < n; ++i)
        v.push_back(quint16(from + i));
    return v;
}

} // namespace

TEST(StreamWindow, PacesAgainstTheClockWithoutDrift)
{
    struct Case
    {
        double speed;
        int rateIndex;
        qint64 stepUs;
        double expectedPerSecond;
    };
    const Case cases[] = {
        {1, 1, 700, 390.625}, {1, 1, 3100, 390.625}, {1, 3, 900, 1562.5}, {10, 1, 130, 3906.25}};
    for (const Case &c : cases) {
        StreamTiming t;
        t.speed = c.speed;
        Rig rig(FaultConfig(), t);
        rig.window.start(c.rateIndex, rig.now);
        rig.runUntil(rig.now + 1000000, true, c.stepUs);
        // Uneven polling must neither lose nor gain datagrams over a second.
        EXPECT_NEAR(double(rig.window.generated()), c.expectedPerSecond, 1.5) << c.speed << " " << c.stepUs;
        EXPECT_EQ(rig.stats.resent, 0u);
        EXPECT_EQ(rig.stats.ackMismatch, 0u);
    }
}

TEST(StreamWindow, DatagramsCarryHeaderSequenceAndPattern)
{
    StreamTiming t;
    t.startSeq = 65534;
    Rig rig(FaultConfig(), t);
    rig.window.start(kRate78k, rig.now);
    rig.runUntil(rig.now + 4 * kPeriod78kUs - 1, true);
    const auto s = rig.stream();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(rig.seqs(), (std::vector<quint16>{65534, 65535, 0, 1})); // wraps
    for (size_t k = 0; k < s.size(); ++k) {
        EXPECT_EQ(s[k].d.left(4), QByteArray::fromHex("12fffeff"));
        EXPECT_NE(wire::readU16(s[k].d, wire::kStreamClearedOffset), 0)
            << "must be cleared by the acknowledger";
        EXPECT_EQ(s[k].firstSample(), k * 200);
        const uchar *last = wire::bytes(s[k].d) + wire::kStreamDatagramBytes - 6;
        EXPECT_EQ(quint32(last[0]) | quint32(last[1]) << 8 | quint32(last[2]) << 16,
                  pattern::i24(k * 200 + 199));
    }
    // A start while streaming begins again from the first sequence number, with new samples.
    rig.window.start(kRate78k, rig.now);
    rig.sent.clear();
    rig.acked = 0;
    rig.runUntil(rig.now + 1, true);
    ASSERT_EQ(rig.stream().size(), 1u);
    EXPECT_EQ(rig.stream()[0].seq(), 65534);
    EXPECT_EQ(rig.stream()[0].firstSample(), 4u * 200);
}

TEST(StreamWindow, FullWindowPausesAndUnacknowledgedAreResent)
{
    Rig rig;
    rig.window.start(kRate78k, rig.now);
    const qint64 t0 = rig.now;
    rig.runUntil(t0 + 19000, false);
    EXPECT_EQ(rig.seqs(), range(0, 8)) << "eight in flight, then nothing new";
    EXPECT_EQ(rig.window.inFlight(), 8);

    // Datagram 0 was sent at t0; 20 ms later it and, as their timers run out, the others go again.
    rig.runUntil(t0 + 20000 + 7 * kPeriod78kUs + 200, false);
    std::vector<quint16> expected = range(0, 8);
    const auto again = range(0, 8);
    expected.insert(expected.end(), again.begin(), again.end());
    EXPECT_EQ(rig.seqs(), expected);
    EXPECT_GE(rig.stream()[8].tUs - rig.stream()[0].tUs, 20000);
    EXPECT_EQ(rig.stats.resent, 8u);

    // Acknowledging out of order frees exactly that slot, and one new datagram follows.
    ASSERT_TRUE(rig.ackDatagram(rig.stream()[3].d));
    EXPECT_EQ(rig.stats.acked, 1u);
    EXPECT_EQ(rig.window.inFlight(), 7);
    const size_t before = rig.stream().size();
    rig.runUntil(rig.now + 200, false);
    ASSERT_EQ(rig.stream().size(), before + 1);
    EXPECT_EQ(rig.stream().back().seq(), 8);

    // An acknowledgement for nothing in flight, and one with the wrong bytes, are counted.
    QByteArray stale = rig.stream()[3].d;
    EXPECT_TRUE(rig.ackDatagram(stale));
    EXPECT_EQ(rig.stats.ackUnmatched, 1u);
    QByteArray uncleared = rig.stream()[0].d.left(wire::kAckBytes);
    EXPECT_TRUE(rig.window.acknowledge(wire::bytes(uncleared), uncleared.size(), rig.now));
    EXPECT_EQ(rig.stats.ackMismatch, 1u);
    // Not an acknowledgement at all.
    EXPECT_FALSE(rig.window.acknowledge(wire::bytes(stale), stale.size(), rig.now));
}

TEST(StreamWindow, GivesUpAfterTheResendLimitAndStopEndsEverything)
{
    StreamTiming t;
    t.maxResends = 2;
    Rig rig(FaultConfig(), t);
    rig.window.start(kRate78k, rig.now);
    const qint64 t0 = rig.now;
    // The last of the first eight goes at 7 periods, again at +20 and +40 ms, and is given up at +60 ms.
    rig.runUntil(t0 + 7 * kPeriod78kUs + 60000 + 200, false);
    EXPECT_EQ(rig.stats.resent, 16u) << "eight datagrams, two resends each";
    EXPECT_EQ(rig.stats.abandoned, 8u);
    EXPECT_EQ(rig.stream().back().seq(), 15) << "the window moved on to new datagrams";
    rig.window.stop();
    const size_t n = rig.sent.size();
    rig.runUntil(rig.now + 100000, false);
    EXPECT_EQ(rig.sent.size(), n);
    EXPECT_EQ(rig.window.nextWakeUs(), kNever);
}

TEST(StreamWindow, ScheduledFaults)
{
    struct Case
    {
        const char *name;
        FaultConfig faults;
        std::vector<quint16> seqs;    // transmissions in order, resends included
        std::vector<quint64> samples; // first sample of each of them
        quint64 applied;
    };
    FaultConfig burst, lost, restart;
    burst.burstLoss = {{2, 2}};
    lost.loseForGood = {{1, 2}};
    restart.restartSeq = {{3, 100}};
    const Case cases[] = {
        // 2 and 3 go out again together when the older one's timer runs out, 20 ms later, ahead of
        // anything new.
        {"burst-loss",
         burst,
         {0, 1, 4, 5, 6, 7, 8, 9, 2, 3, 10, 11},
         {0, 200, 800, 1000, 1200, 1400, 1600, 1800, 400, 600, 2000, 2200},
         2},
        // 1 and 2 consume sequence numbers and samples but never appear.
        {"lose-for-good", lost, {0, 3, 4, 5}, {0, 600, 800, 1000}, 2},
        {"restart-seq", restart, {0, 1, 2, 100, 101}, {0, 200, 400, 600, 800}, 1},
    };
    for (const Case &c : cases) {
        Rig rig(c.faults);
        rig.window.start(kRate78k, rig.now);
        rig.runUntil(rig.now + 12 * kPeriod78kUs - 1, true);
        const auto s = rig.stream();
        ASSERT_GE(s.size(), c.seqs.size()) << c.name;
        for (size_t i = 0; i < c.seqs.size(); ++i) {
            EXPECT_EQ(s[i].seq(), c.seqs[i]) << c.name << " #" << i;
            EXPECT_EQ(s[i].firstSample(), c.samples[i]) << c.name << " #" << i;
        }
        EXPECT_EQ(rig.stats.faults.value(QString::fromLatin1(c.name)), c.applied) << c.name;
        EXPECT_EQ(rig.stats.resent, c.faults.burstLoss.isEmpty() ? 0u : 2u) << c.name;
    }
}

TEST(StreamWindow, SilenceStopsAllOutputThenResumes)
{
    FaultConfig f;
    f.silenceMs = {{2, 50}};
    Rig rig(f);
    rig.window.start(kRate78k, rig.now);
    const qint64 t0 = rig.now;
    rig.runUntil(t0 + 49000, true);
    EXPECT_EQ(rig.seqs(), range(0, 2));
    rig.runUntil(t0 + 2 * kPeriod78kUs + 50000 + 200, true);
    ASSERT_EQ(rig.stream().size(), 3u);
    EXPECT_GE(rig.stream()[2].tUs - rig.stream()[1].tUs, 50000);
    EXPECT_EQ(rig.stream()[2].firstSample(), 400u) << "no samples are lost to a silence";
}

TEST(StreamWindow, RandomFaultsFollowTheirProbabilities)
{
    FaultConfig f;
    f.seed = 42;
    f.drop = 0.1;
    f.dup = 0.05;
    f.reorder = 0.05;
    f.garbage = 0.05;
    StreamTiming t;
    t.speed = 4; // fast, yet the drops' 20 ms resend waits rarely fill the window
    Rig rig(f, t);
    rig.window.start(kRate78k, rig.now);
    rig.runUntil(rig.now + 4000000, true);
    const double n = double(rig.stats.sent + rig.stats.resent);
    ASSERT_GT(n, 5000);
    EXPECT_NEAR(rig.stats.faults.value("drop") / n, 0.1, 0.02);
    EXPECT_NEAR(rig.stats.faults.value("dup") / n, 0.05 * 0.9, 0.015);
    EXPECT_GT(rig.stats.faults.value("reorder"), 0u);
    EXPECT_GT(rig.stats.faults.value("garbage"), 0u);
    // Drops are healed by resends; everything generated is acknowledged in the end.
    rig.window.stop();
    EXPECT_GE(rig.stats.acked + 8, rig.stats.generated);
    EXPECT_EQ(rig.stats.abandoned, 0u);
    // Reordering: some datagram arrives after a higher-numbered one of the first transmissions.
    bool reordered = false;
    const auto s = rig.stream();
    for (size_t i = 1; i < s.size() && !reordered; ++i)
        reordered = quint16(s[i - 1].seq() - s[i].seq()) == 1 && s[i].tUs == s[i - 1].tUs;
    EXPECT_TRUE(reordered);
    // Garbage never looks like a stream datagram or a reply to a command.
    for (const Sent &x : rig.sent) {
        if (x.isStream())
            continue;
        const int code = wire::codeOf(x.d);
        EXPECT_TRUE(code < 0 || code == wire::kCodeDiscard ||
                    (code > wire::kCmdLpf && code != wire::kCodeStream))
            << code;
    }

    // The same seed gives the same run.
    Rig again(f, t);
    again.window.start(kRate78k, again.now);
    again.runUntil(again.now + 4000000, true);
    EXPECT_EQ(again.seqs(), rig.seqs());
}
