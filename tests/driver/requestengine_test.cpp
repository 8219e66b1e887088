#include "driver/controllink.h"
#include "driver/requestengine.h"
#include "driver/requests.h"
#include "protocol/datagram.h"

#include <gtest/gtest.h>

#include <tuple>

// The engine turned by hand, without threads or sockets, against a link whose clock the test moves.
// A timeout of 0 ms makes every pass see an expired request; one of an hour makes no pass see one.

namespace {

constexpr quint32 kExpired = 0;
constexpr quint32 kNever = 3600 * 1000;
constexpr qint64 kMs = 1000000;

// Sends at once; has read the socket up to its clock unless told it lags.
class FakeLink : public ControlLink
{
public:
    bool send(const QByteArray &datagram, quint64 tag) override
    {
        sent.append(datagram);
        notes.append({tag, nowNs});
        return true;
    }
    bool takeSent(quint64 *tag, qint64 *sentNs) override
    {
        if (notes.isEmpty())
            return false;
        std::tie(*tag, *sentNs) = notes.takeFirst();
        return true;
    }
    bool takeReply(QByteArray &out) override
    {
        return !incoming.isEmpty() && (out = incoming.takeFirst(), true);
    }
    qint64 readUpToNs() const override { return readUpTo < 0 ? nowNs : readUpTo; }
    void requestRead() override { ++readsRequested; }

    qint64 nowNs = 0, readUpTo = -1;
    int readsRequested = 0;
    QList<QByteArray> sent, incoming;
    QList<std::pair<quint64, qint64>> notes;
};

class EngineTest : public ::testing::Test
{
protected:
    ControlRequest *add(const QByteArray &datagram, bool blocking, quint32 timeoutMs)
    {
        auto *r = new ControlRequest;
        r->blocking = blocking;
        r->timeoutMs = timeoutMs;
        r->id = nextId++;
        r->datagram = datagram;
        engine.submit(r);
        return r;
    }

    void turn() { engine.runTurn(link); }

    static QByteArray replyTo(quint16 code) { return requests::header(code, 0); }

    RequestEngine engine;
    FakeLink link;
    QList<QByteArray> &sent = link.sent;
    QList<QByteArray> &incoming = link.incoming;
    quint64 nextId = 0;
};

} // namespace

TEST_F(EngineTest, UnansweredRequestIsSentSixTimesThenFails)
{
    for (const bool blocking : {true, false}) {
        sent.clear();
        const quint64 id = nextId;
        add(requests::stopStream(), blocking, kExpired);
        for (int i = 0; i < 10; ++i)
            turn();
        EXPECT_EQ(sent.size(), 6) << "blocking " << blocking;
        EXPECT_EQ(engine.queuedCount(), 0);
        if (blocking) {
            // It waits, failed, for its submitter.
            std::unique_ptr<ControlRequest> r(engine.takeFinished(id));
            ASSERT_TRUE(r);
            EXPECT_EQ(r->state, ControlRequest::Failed);
            EXPECT_EQ(r->resendCount, 5u);
        }
        EXPECT_EQ(engine.pendingCount(), 0) << "blocking " << blocking;
    }
}

TEST_F(EngineTest, TimerNotExpiredMeansNoResend)
{
    const quint64 id = nextId;
    add(requests::stopStream(), true, kNever);
    for (int i = 0; i < 5; ++i)
        turn();
    EXPECT_EQ(sent.size(), 1);
    EXPECT_EQ(engine.takeFinished(id), nullptr);
}

TEST_F(EngineTest, RequestsWhoseRepliesReachedTheSocketAreNeverResent)
{
    const quint64 startId = nextId;
    add(requests::startStream(3, 1), true, 20);
    add(requests::tuning(0, 7e6), false, 20);
    add(requests::attenuator(1), false, 20);
    turn();
    ASSERT_EQ(sent.size(), 3);

    // Long past the deadline, but the socket thread has read only up to 15 ms: it is asked to read
    // on, and nothing is decided until it has.
    link.nowNs = 50 * kMs;
    link.readUpTo = 15 * kMs;
    turn();
    EXPECT_EQ(engine.msUntilDue(link, link.nowNs, 100), 100);
    EXPECT_EQ(link.readsRequested, 1);
    EXPECT_EQ(sent.size(), 3);

    // It has, and found the three replies behind a turn's worth of others: each retires its request.
    link.readUpTo = -1;
    for (int i = 0; i < RequestEngine::kMaxRepliesPerTurn; ++i)
        incoming.append(replyTo(wire::kCmdDeviceInfo));
    incoming << replyTo(wire::kCmdTuning) << replyTo(wire::kCmdAttenuator) << replyTo(wire::kCmdStartStream);
    turn();
    turn();
    EXPECT_EQ(sent.size(), 3);
    std::unique_ptr<ControlRequest> start(engine.takeFinished(startId));
    ASSERT_TRUE(start);
    EXPECT_EQ(start->state, ControlRequest::Answered);
    EXPECT_EQ(engine.pendingCount(), 0);
}

TEST_F(EngineTest, ResendGoesOutBeforeLaterRequests)
{
    add(requests::tuning(0, 1e6), false, kExpired);
    turn(); // sent once, then scheduled for resend
    add(requests::lowPassFilter(true), false, kNever);
    turn();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(wire::codeOf(sent[1]), wire::kCmdTuning);
    EXPECT_EQ(wire::codeOf(sent[2]), wire::kCmdLpf);
}

TEST_F(EngineTest, OneReplyFinishesEveryRequestWithItsCode)
{
    const quint64 blockingId = nextId;
    add(requests::tuning(0, 1e6), true, kNever);
    add(requests::tuning(1, 2e6), false, kNever);
    add(requests::tuning(0, 3e6), false, kNever);
    add(requests::attenuator(1), false, kNever);
    turn();
    EXPECT_EQ(engine.takeFinished(blockingId), nullptr);

    QByteArray reply = replyTo(wire::kCmdTuning) + QByteArray("extra");
    incoming.append(reply);
    turn();
    // The fire-and-forget tunings are gone, the attenuator still waits, the blocking one has the reply.
    EXPECT_EQ(engine.pendingCount(), 2);
    std::unique_ptr<ControlRequest> r(engine.takeFinished(blockingId));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->state, ControlRequest::Answered);
    EXPECT_EQ(r->datagram, reply);
    EXPECT_EQ(engine.pendingCount(), 1);
}

TEST_F(EngineTest, LateRepliesChangeNothing)
{
    // A blocking request answered and collected, a fire-and-forget one failed and released.
    const quint64 id = nextId;
    add(requests::calibrationRead(), true, kNever);
    add(requests::lowPassFilter(true), false, kExpired);
    for (int i = 0; i < 7; ++i)
        turn();
    incoming.append(replyTo(wire::kCmdCalibration));
    turn();
    std::unique_ptr<ControlRequest> collected(engine.takeFinished(id));
    ASSERT_TRUE(collected);
    const QByteArray answer = collected->datagram;
    ASSERT_EQ(engine.pendingCount(), 0);

    const quint64 waitingId = nextId;
    add(requests::deviceInfoRead(), true, kNever);
    incoming.append(replyTo(wire::kCmdCalibration) + QByteArray("late"));
    incoming.append(replyTo(wire::kCmdLpf));
    turn();
    EXPECT_EQ(collected->datagram, answer);
    EXPECT_EQ(engine.takeFinished(waitingId), nullptr);
    EXPECT_EQ(engine.pendingCount(), 1);
    EXPECT_EQ(engine.queuedCount(), 0);
}

TEST_F(EngineTest, FailedBlockingRequestCanStillBeAnsweredBeforeCollection)
{
    const quint64 id = nextId;
    add(requests::startStream(3, 1), true, kExpired);
    for (int i = 0; i < 6; ++i)
        turn();
    ASSERT_EQ(sent.size(), 6);
    const QByteArray reply = replyTo(wire::kCmdStartStream);
    incoming.append(reply);
    turn();
    EXPECT_EQ(sent.size(), 6);
    std::unique_ptr<ControlRequest> r(engine.takeFinished(id));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->state, ControlRequest::Answered);
    EXPECT_EQ(r->datagram, reply);
}

TEST_F(EngineTest, DiscardCodeIsConsumedAndNeverMatched)
{
    // Even a request that carried the discard code would not be finished by such a datagram.
    const quint64 id = nextId;
    add(requests::header(wire::kCodeDiscard, 0), true, kNever);
    turn();
    incoming.append(requests::header(wire::kCodeDiscard, 0));
    turn();
    EXPECT_TRUE(incoming.isEmpty());
    EXPECT_EQ(engine.takeFinished(id), nullptr);
}

TEST_F(EngineTest, AtMostTwentyRepliesPerTurn)
{
    for (int i = 0; i < 25; ++i)
        incoming.append(replyTo(wire::kCmdTuning));
    turn();
    EXPECT_EQ(incoming.size(), 5);
    turn();
    EXPECT_TRUE(incoming.isEmpty());
}

TEST_F(EngineTest, ShortDatagramsMatchNothing)
{
    const quint64 id = nextId;
    add(requests::calibrationRead(), true, kNever);
    turn();
    incoming << QByteArray() << QByteArray("\x12\xFF\x0E", 3);
    turn();
    EXPECT_EQ(engine.takeFinished(id), nullptr);
}
