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

#include <atomic>
#include <vector>

// The driver and its stream receiver against the simulator on loopback, with one of the plug-in's
// threads held at the worst moment of the start (the test seam): a command that was answered must
// not go out again, and whatever the receiver makes of a start it hears twice, no sample may come
// twice and no jump go unreported.

namespace {

const QHostAddress kReceiverAddress(QStringLiteral("127.0.0.2"));
constexpr unsigned long kHoldMs = 2 * requests::kReplyTimeoutMs;

std::atomic<unsigned long> g_holdDriverMs{0}, g_holdStreamMs{0};
std::atomic<bool> g_driverArmed{false}, g_streamHeld{false};
QMutex g_mutex;
std::vector<qint64> g_startSentNs; // each copy of the start, as it went to the socket

bool isStart(const void *subject)
{
    return subject && wire::codeOf(*static_cast<const QByteArray *>(subject)) == wire::kCmdStartStream;
}

// The driver is held in the turn that handed the start over, after taking the replies (none yet)
// and before looking at timeouts; the stream thread before it sends the start.
void holdAtSeam(platform::SeamPoint point, const void *subject)
{
    if (point == platform::SeamPoint::DriverHandedOver && isStart(subject) && g_holdDriverMs > 0)
        g_driverArmed = true;
    if (point == platform::SeamPoint::DriverBeforeTimeouts && g_driverArmed.exchange(false))
        QThread::msleep(g_holdDriverMs);
    if (point == platform::SeamPoint::StreamBeforeSend && isStart(subject)) {
        if (g_holdStreamMs > 0 && !g_streamHeld.exchange(true))
            QThread::msleep(g_holdStreamMs);
        platform::MutexLocker lock(&g_mutex);
        g_startSentNs.push_back(platform::monotonicNs());
    }
}

// Datagram indices of the simulator's numbered signal as delivered, -1 for a reported gap.
class PatternDsp : public DspAbstract
{
public:
    void startOutput(quint16, HostCallback) override {}
    bool stopOutput() override { return true; }
    bool pushSamples(const IqPair *pairs, void *, int, quint8) override
    {
        uint64_t n = 0;
        pattern::decode(pairs[0].i, pairs[0].q, &n);
        platform::MutexLocker lock(&g_mutex);
        events.push_back(qint64(n / 200));
        ++pushes;
        return true;
    }
    void streamGap(quint64) override
    {
        platform::MutexLocker lock(&g_mutex);
        events.push_back(-1);
    }
    std::vector<qint64> events;
    std::atomic<int> pushes{0};
};

} // namespace

TEST(DriverRace, AnsweredStartIsNeverSentAgainAndTheStreamIsNeverSpliced)
{
    struct Case
    {
        const char *name;
        unsigned long driverMs, streamMs;
        const char *fault; // the start's first reply lost: asked again for want of an answer
        int rateIndex;
    };
    const Case cases[] = {
        {"driver held after taking replies", kHoldMs, 0, nullptr, 2},
        {"stream thread held before sending", 0, kHoldMs, nullptr, 2},
        // At the lowest rate the plug-in has taken only a few datagrams when it asks again.
        {"start reply lost", 0, 0, "--lose-reply=0x0001", 0},
    };
    platform::setSeamHook(holdAtSeam);
    for (const Case &c : cases) {
        for (const QString repeated : {"restart", "ignore"}) {
            SCOPED_TRACE(c.name + (", repeated start: " + repeated).toStdString());
            const quint16 port = freeUdpPort();
            ASSERT_NE(port, 0);
            SimProcess sim;
            QStringList args{
                "--receiver",       QStringLiteral("%1:%2").arg(kReceiverAddress.toString()).arg(port),
                "--discovery-port", "0",
                "--repeated-start", repeated};
            if (c.fault)
                args << c.fault;
            ASSERT_TRUE(sim.start(args)) << qPrintable(sim.errorString());
            g_holdDriverMs = c.driverMs;
            g_holdStreamMs = c.streamMs;
            g_streamHeld = false;
            g_startSentNs.clear();
            PatternDsp dsp;
            {
                TarnixDriver driver(&dsp);
                Receiver rx;
                rx.address = kReceiverAddress;
                rx.port = port;
                ASSERT_TRUE(driver.connectTo(rx));
                EXPECT_TRUE(driver.startStream(c.rateIndex, 1, nullptr));
                EXPECT_TRUE(waitUntil([&] { return dsp.pushes >= 100; }, 20000));
                EXPECT_TRUE(driver.stopStream());
            }
            g_holdDriverMs = g_holdStreamMs = 0;
            ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());

            // The simulator marks a command that came before its reply to the same bytes had left.
            int asked = 0, askedForWantOfAnswer = 0;
            for (const SimLogEntry &e : sim.log()) {
                if (e.code == wire::kCmdStartStream && e.length == wire::kStartStreamBytes)
                    ++(e.resend ? askedForWantOfAnswer : asked);
            }
            EXPECT_EQ(asked, 1);
            if (c.fault) {
                EXPECT_GE(askedForWantOfAnswer, 1);
            }
            // Each resend left its timeout after the copy before it.
            ASSERT_EQ(int(g_startSentNs.size()), asked + askedForWantOfAnswer);
            for (size_t i = 1; i < g_startSentNs.size(); ++i)
                EXPECT_GE(g_startSentNs[i] - g_startSentNs[i - 1],
                          qint64(requests::kReplyTimeoutMs) * 1000000);

            int repeatedData = 0, silentJumps = 0, gaps = 0;
            qint64 last = -1;
            bool gap = false;
            for (const qint64 e : dsp.events) {
                if (e < 0) {
                    ++gaps;
                    gap = true;
                    continue;
                }
                repeatedData += e <= last;
                silentJumps += last >= 0 && e > last + 1 && !gap;
                last = qMax(last, e);
                gap = false;
            }
            EXPECT_EQ(repeatedData, 0);
            EXPECT_EQ(silentJumps, 0);
            // Only a start sent again for want of an answer may restart the stream.
            if (askedForWantOfAnswer == 0 || repeated == "ignore") {
                EXPECT_EQ(gaps, 0);
            }
        }
    }
    platform::setSeamHook(nullptr);
}
