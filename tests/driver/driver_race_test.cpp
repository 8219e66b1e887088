#include "driver/requests.h"
#include "driver/tarnixdriver.h"
#include "platform/clock.h"
#include "platform/mutexlocker.h"
#include "platform/testseam.h"
#include "protocol/commands.h"
#include "stream/dspabstract.h"
#include "tests/support/loopbackpeer.h"
#include "tests/support/simprocess.h"
#include "tools/sim/pattern.h"

#include <QMutex>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

// The driver and its stream receiver against the simulator on loopback, with one of the plug-in's
// threads held at the worst moment of the start: a command that was answered must not go out again,
// and the stream that follows must be the receiver's one stream, whole.

namespace {

const QHostAddress kReceiverAddress(QStringLiteral("127.0.0.2"));
constexpr unsigned long kHoldMs = 2 * requests::kReplyTimeoutMs;
constexpr int kDatagramsToSee = 300;
constexpr int kWaitMs = 20000;

// Which thread the seam holds, and for how long; set by the test thread before the start.
std::atomic<unsigned long> g_holdDriverMs{0};
std::atomic<unsigned long> g_holdStreamMs{0};
std::atomic<bool> g_driverArmed{false};
std::atomic<bool> g_streamHeld{false};
// When each copy of the start command went to the socket, after any hold.
QMutex g_sendsMutex;
std::vector<qint64> g_startSendsNs;

bool isStart(const void *subject)
{
    return subject && wire::codeOf(*static_cast<const QByteArray *>(subject)) == wire::kCmdStartStream;
}

// Holds the driver in the turn that handed the start over, after it took the replies (none yet)
// and before it looks at timeouts; or the stream thread before it sends the start.
void holdAtSeam(platform::SeamPoint point, const void *subject)
{
    switch (point) {
    case platform::SeamPoint::DriverHandedOver:
        if (isStart(subject) && g_holdDriverMs > 0)
            g_driverArmed = true;
        break;
    case platform::SeamPoint::DriverBeforeTimeouts:
        if (g_driverArmed.exchange(false))
            QThread::msleep(g_holdDriverMs);
        break;
    case platform::SeamPoint::StreamBeforeSend:
        if (!isStart(subject))
            break;
        if (g_holdStreamMs > 0 && !g_streamHeld.exchange(true))
            QThread::msleep(g_holdStreamMs);
        {
            platform::MutexLocker lock(&g_sendsMutex);
            g_startSendsNs.push_back(platform::monotonicNs());
        }
        break;
    }
}

// The datagram index of every push (from the simulator's numbered signal) and the gaps reported.
class PatternDsp : public DspAbstract
{
public:
    void startOutput(quint16, HostCallback) override {}
    bool stopOutput() override { return true; }
    bool pushSamples(const IqPair *pairs, void *, int count, quint8) override
    {
        uint64_t n = 0;
        const bool ok = count > 0 && pattern::decode(pairs[0].i, pairs[0].q, &n);
        platform::MutexLocker lock(&m_mutex);
        m_events.push_back(ok ? qint64(n / 200) : kUndecodable);
        return true;
    }
    void streamGap() override
    {
        platform::MutexLocker lock(&m_mutex);
        m_events.push_back(kGap);
    }

    static constexpr qint64 kGap = -1;
    static constexpr qint64 kUndecodable = -2;
    std::vector<qint64> events() const
    {
        platform::MutexLocker lock(&m_mutex);
        return m_events;
    }
    int pushes() const
    {
        platform::MutexLocker lock(&m_mutex);
        return int(std::count_if(m_events.begin(), m_events.end(), [](qint64 e) { return e >= 0; }));
    }

private:
    mutable QMutex m_mutex;
    std::vector<qint64> m_events;
};

struct StreamCheck
{
    int datagrams = 0, repeated = 0, unreportedJumps = 0, gaps = 0, undecodable = 0;
};

// A datagram index at or below one delivered before is repeated data; a jump forward must come
// after a reported gap.
StreamCheck check(const std::vector<qint64> &events)
{
    StreamCheck c;
    qint64 last = -1;
    bool gapSeen = false;
    for (const qint64 e : events) {
        if (e == PatternDsp::kGap) {
            ++c.gaps;
            gapSeen = true;
            continue;
        }
        if (e == PatternDsp::kUndecodable) {
            ++c.undecodable;
            continue;
        }
        ++c.datagrams;
        if (e <= last)
            ++c.repeated;
        else if (last >= 0 && e != last + 1 && !gapSeen)
            ++c.unreportedJumps;
        last = qMax(last, e);
        gapSeen = false;
    }
    return c;
}

// One stream from the simulator on loopback, with the seam's holds as set.
struct StartRun
{
    int asked = 0;             // start commands that came while none had been answered before
    int lateAnswerResends = 0; // start commands sent again because no answer had come (marked so)
    std::vector<qint64> startSendsNs;
    StreamCheck stream;
};

void runStream(const QStringList &simArgs, int rateIndex, int datagrams, StartRun *run)
{
    const quint16 port = freeUdpPort();
    ASSERT_NE(port, 0);
    SimProcess sim;
    ASSERT_TRUE(sim.start(QStringList{"--receiver",
                                      QStringLiteral("%1:%2").arg(kReceiverAddress.toString()).arg(port),
                                      "--discovery-port", "0", "--signal", "pattern"} +
                          simArgs))
        << qPrintable(sim.errorString());
    g_driverArmed = false;
    g_streamHeld = false;
    {
        platform::MutexLocker lock(&g_sendsMutex);
        g_startSendsNs.clear();
    }
    PatternDsp dsp;
    {
        TarnixDriver driver(&dsp);
        Receiver rx;
        rx.address = kReceiverAddress;
        rx.port = port;
        ASSERT_TRUE(driver.connectTo(rx));
        EXPECT_TRUE(driver.startStream(rateIndex, 1, nullptr));
        EXPECT_TRUE(waitUntil([&] { return dsp.pushes() >= datagrams; }, kWaitMs));
        EXPECT_TRUE(driver.stopStream());
        driver.closeConnection();
    }
    ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());
    // The simulator marks a command that came before its reply to the same bytes had left.
    for (const SimLogEntry &e : sim.log()) {
        if (e.code == wire::kCmdStartStream && e.length == wire::kStartStreamBytes)
            ++(e.resend ? run->lateAnswerResends : run->asked);
    }
    {
        platform::MutexLocker lock(&g_sendsMutex);
        run->startSendsNs = g_startSendsNs;
    }
    run->stream = check(dsp.events());
    EXPECT_GE(run->stream.datagrams, datagrams);
    // Whatever the receiver did, no sample comes twice and no jump goes unreported.
    EXPECT_EQ(run->stream.repeated, 0);
    EXPECT_EQ(run->stream.undecodable, 0);
    EXPECT_EQ(run->stream.unreportedJumps, 0);
}

// A resend leaves only once the timeout has run from the moment the copy before it left.
void expectResendsAfterTheirTimeout(const StartRun &run)
{
    EXPECT_EQ(int(run.startSendsNs.size()), run.asked + run.lateAnswerResends);
    for (size_t i = 1; i < run.startSendsNs.size(); ++i)
        EXPECT_GE(run.startSendsNs[i] - run.startSendsNs[i - 1], qint64(requests::kReplyTimeoutMs) * 1000000)
            << i;
}

} // namespace

TEST(DriverRace, AnsweredStartIsNeverSentAgainWhateverThreadIsHeld)
{
    platform::setSeamHook(holdAtSeam);
    struct Case
    {
        const char *name;
        unsigned long driverMs, streamMs;
    };
    const Case cases[] = {
        {"driver held after taking replies", kHoldMs, 0},
        {"stream thread held before sending", 0, kHoldMs},
    };
    for (const Case &c : cases) {
        for (const char *repeated : {"restart", "ignore"}) {
            SCOPED_TRACE(std::string(c.name) + ", repeated start: " + repeated);
            g_holdDriverMs = c.driverMs;
            g_holdStreamMs = c.streamMs;
            StartRun run;
            runStream({"--repeated-start", repeated}, 2, kDatagramsToSee, &run);
            g_holdDriverMs = 0;
            g_holdStreamMs = 0;
            EXPECT_EQ(run.asked, 1);
            expectResendsAfterTheirTimeout(run);
            // Only a start resent for want of an answer (a busy machine) may restart the stream.
            if (run.lateAnswerResends == 0) {
                EXPECT_EQ(run.stream.gaps, 0);
            }
        }
    }
    platform::setSeamHook(nullptr);
}

// The receiver carries the start out but its answer is lost: the plug-in asks again 20 ms later,
// by then a few datagrams into the stream. A receiver that restarts on it sends new samples under
// numbers the plug-in has just taken; one that ignores it carries on.
TEST(DriverRace, StartAskedAgainForWantOfAnAnswerNeverSplicesTheStreamSilently)
{
    platform::setSeamHook(holdAtSeam);
    for (const char *repeated : {"restart", "ignore"}) {
        SCOPED_TRACE(std::string("repeated start: ") + repeated);
        StartRun run;
        runStream({"--repeated-start", repeated, "--lose-reply", "0x0001"}, 0, 100, &run);
        EXPECT_EQ(run.asked, 1);
        EXPECT_GE(run.lateAnswerResends, 1);
        expectResendsAfterTheirTimeout(run);
        if (QLatin1String(repeated) == QLatin1String("ignore")) {
            EXPECT_EQ(run.stream.gaps, 0);
        }
    }
    platform::setSeamHook(nullptr);
}
