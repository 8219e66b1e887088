#include "stream/tarnixdevice.h"

#include "capturingdsp.h"
#include "protocol/stream.h"
#include "stream/tarnixdsp.h"
#include "tests/support/fakereceiver.h"
#include "tools/sim/pattern.h"

#include <gtest/gtest.h>

#include <QMutex>
#include <QUdpSocket>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

using testsupport::FakeReceiver;
using testsupport::ReceivedDatagram;
using testsupport::StreamHeader;

namespace {

constexpr int kWaitMs = 5000;

QByteArray expectedAck(const QByteArray &sent)
{
    QByteArray ack = sent.left(wire::kAckBytes);
    ack[4] = 0;
    ack[5] = 0;
    return ack;
}

// Pattern indices of every pair the host callback received, in order; -1 for a pair that is not
// a pattern sample.
QMutex g_hostMutex;
std::vector<int64_t> g_hostIndices;

void patternCallback(int count, int, float, void *data)
{
    platform::MutexLocker lock(&g_hostMutex);
    const auto *pairs = static_cast<const IqPair *>(data);
    for (int k = 0; k < count; ++k) {
        uint64_t n = 0;
        g_hostIndices.push_back(pattern::decode(pairs[k].i, pairs[k].q, &n) ? int64_t(n) : -1);
    }
}

QByteArray reply(quint16 code, int size, int tag)
{
    QByteArray d(size, char(tag));
    if (size >= wire::kMinDatagramBytes)
        wire::writeU16(d, wire::kCodeOffset, code);
    return d;
}

class TarnixDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = testsupport::freeUdpPort();
        ASSERT_NE(port, 0);
        fake.reset(new FakeReceiver(port));
        ASSERT_TRUE(fake->isBound());
        ASSERT_TRUE(device.startReceiving(FakeReceiver::address(), port));
    }
    void TearDown() override { device.stopReceiving(); }

    // Datagrams the fake has received so far.
    QList<QByteArray> received()
    {
        QList<QByteArray> out;
        for (const ReceivedDatagram &r : fake->received())
            out.append(r.data);
        return out;
    }
    bool waitForReceived(int count)
    {
        return fake->waitFor([&] { return fake->receivedCount() >= count; }, kWaitMs);
    }

    quint16 port = 0;
    std::unique_ptr<FakeReceiver> fake;
    CapturingDsp dsp;
    TarnixDevice device{&dsp};
};

} // namespace

TEST_F(TarnixDeviceTest, InOrderStreamIsForwardedAndEachDatagramAcknowledged)
{
    QList<QByteArray> sent;
    for (quint16 n = 0; n < 5; ++n) {
        StreamHeader h;
        h.word0 = quint16(0x100 + n);
        h.aux = quint8(n + 1);
        sent.append(testsupport::streamDatagram(n, {{qint32(n), 0x7FFFFF}}, h));
        ASSERT_TRUE(fake->send(sent.back()));
    }
    ASSERT_TRUE(waitForReceived(5));
    const QList<QByteArray> acks = received();
    ASSERT_EQ(acks.size(), 5);
    for (int n = 0; n < 5; ++n)
        EXPECT_EQ(acks[n], expectedAck(sent[n])) << n;

    const auto pushes = dsp.pushes();
    ASSERT_EQ(pushes.size(), 5u);
    for (int n = 0; n < 5; ++n) {
        EXPECT_EQ(pushes[size_t(n)].pairs.size(), 200u);
        EXPECT_EQ(pushes[size_t(n)].pairs[0].i, n * 256);
        EXPECT_EQ(pushes[size_t(n)].pairs[0].q, 2147483392);
        EXPECT_EQ(pushes[size_t(n)].aux, n + 1);
    }
}

TEST_F(TarnixDeviceTest, RepeatsAndOutOfOrderDatagramsOverTheSocket)
{
    StreamHeader first;
    first.word0 = 0x0AAA;
    const QByteArray d0 = testsupport::streamDatagram(0, {}, first);
    const QByteArray d1 = testsupport::streamDatagram(1, {}, first);
    StreamHeader again;
    again.word0 = 0x0BBB;
    const QByteArray d2 = testsupport::streamDatagram(2);
    // 1 comes again with other header bytes; 3 comes ahead of 2 and is dropped unacknowledged.
    for (const QByteArray &d :
         {d0, d1, testsupport::streamDatagram(1, {}, again), testsupport::streamDatagram(3), d2})
        ASSERT_TRUE(fake->send(d));
    ASSERT_TRUE(waitForReceived(4));
    const QList<QByteArray> acks = received();
    ASSERT_EQ(acks.size(), 4);
    EXPECT_EQ(acks[0], expectedAck(d0));
    EXPECT_EQ(acks[1], expectedAck(d1));
    EXPECT_EQ(acks[2], expectedAck(d1)) << "a repeat is answered with the stored header";
    EXPECT_EQ(acks[3], expectedAck(d2));
    EXPECT_EQ(dsp.pushCount(), 3u);
}

TEST_F(TarnixDeviceTest, OnlyTheReceiversAddressIsHeardFromAnyOfItsPorts)
{
    QUdpSocket foreign, otherPort;
    ASSERT_TRUE(foreign.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0));
    ASSERT_TRUE(otherPort.bind(FakeReceiver::address(), 0));
    const QHostAddress plugin = FakeReceiver::pluginAddress();

    foreign.writeDatagram(testsupport::streamDatagram(0, {{0x111111, 0}}), plugin, port);
    foreign.writeDatagram(reply(0x0001, 22, 0x31), plugin, port);
    otherPort.writeDatagram(testsupport::streamDatagram(0, {{0x222222, 0}}), plugin, port);
    otherPort.writeDatagram(reply(0x0001, 22, 0x32), plugin, port);

    ASSERT_TRUE(waitForReceived(1));
    ASSERT_TRUE(testsupport::waitUntil([&] { return dsp.pushCount() >= 1; }, kWaitMs));
    const auto pushes = dsp.pushes();
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].pairs[0].i, 0x22222200);
    // The acknowledgement goes to the receiver's port, not the port the datagram came from.
    EXPECT_EQ(fake->received().size(), 1);

    QByteArray r;
    ASSERT_TRUE(testsupport::waitUntil([&] { return device.takeReply(r); }, kWaitMs));
    EXPECT_EQ(r, reply(0x0001, 22, 0x32));
    EXPECT_FALSE(device.takeReply(r));
}

TEST_F(TarnixDeviceTest, RepliesAreQueuedInOrderAndMalformedDatagramsDropped)
{
    const QList<QByteArray> replies = {reply(0x0001, 18, 1), reply(0x001A, 54, 2), reply(0xFFFC, 4, 3)};
    ASSERT_TRUE(fake->send(replies[0]));
    ASSERT_TRUE(fake->send(QByteArray()));                  // empty
    ASSERT_TRUE(fake->send(QByteArray("\x12\xFF\xFE", 3))); // too short for a code
    ASSERT_TRUE(fake->send(replies[1]));
    ASSERT_TRUE(fake->send(testsupport::streamDatagram(0).left(1209)));           // stream code, short
    ASSERT_TRUE(fake->send(testsupport::streamDatagram(0) + QByteArray(1, 'x'))); // stream code, long
    ASSERT_TRUE(fake->send(replies[2]));
    const QByteArray good = testsupport::streamDatagram(0);
    ASSERT_TRUE(fake->send(good));

    ASSERT_TRUE(waitForReceived(1));
    ASSERT_TRUE(testsupport::waitUntil([&] { return dsp.pushCount() >= 1; }, kWaitMs));
    EXPECT_EQ(received(), QList<QByteArray>{expectedAck(good)});
    EXPECT_EQ(dsp.pushCount(), 1u);
    QByteArray r;
    for (const QByteArray &expected : replies) {
        ASSERT_TRUE(device.takeReply(r));
        EXPECT_EQ(r, expected);
    }
    EXPECT_FALSE(device.takeReply(r));
}

TEST_F(TarnixDeviceTest, ReplyFloodStopsAtTheQueueLimit)
{
    constexpr int kChunk = 100;
    constexpr int kTotal = TarnixDevice::kMaxQueuedDatagrams + 3 * kChunk;
    // In chunks, each closed by a stream datagram whose acknowledgement shows the chunk was read,
    // so no datagram is lost to a full socket buffer.
    for (int sent = 0, sequence = 0; sent < kTotal; sent += kChunk, ++sequence) {
        for (int k = 0; k < kChunk; ++k) {
            QByteArray d = reply(0x0001, 18, 0);
            wire::writeU32(d, 10, quint32(sent + k));
            ASSERT_TRUE(fake->send(d));
        }
        ASSERT_TRUE(fake->send(testsupport::streamDatagram(quint16(sequence))));
        ASSERT_TRUE(waitForReceived(sequence + 1));
    }
    QByteArray r;
    int taken = 0;
    while (taken <= kTotal && device.takeReply(r)) {
        ASSERT_EQ(wire::readU32(r, 10), quint32(taken)) << "the oldest are kept";
        ++taken;
    }
    EXPECT_EQ(taken, TarnixDevice::kMaxQueuedDatagrams);
}

TEST_F(TarnixDeviceTest, ControlDatagramsGoOutInOrderAndQueueWhileStopped)
{
    const QByteArray a = reply(0x0008, 26, 'a'), b = reply(0x0005, 22, 'b'), c = reply(0x0002, 22, 'c');
    device.queueControl(a);
    device.queueControl(b);
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_EQ(received(), (QList<QByteArray>{a, b}));

    // Accept 0 and 1, stop, queue while stopped, start again: the queued datagram goes out and
    // the stream is taken up from 0 again.
    fake->clearReceived();
    ASSERT_TRUE(fake->sendStream(0));
    ASSERT_TRUE(fake->sendStream(1));
    ASSERT_TRUE(waitForReceived(2));
    device.stopReceiving();
    EXPECT_FALSE(device.isRunning());
    device.queueControl(c);
    fake->clearReceived();
    ASSERT_TRUE(device.startReceiving(FakeReceiver::address(), port));
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(received().value(0), c);
    ASSERT_TRUE(fake->sendStream(0));
    ASSERT_TRUE(testsupport::waitUntil([&] { return dsp.pushCount() >= 3; }, kWaitMs));
    EXPECT_EQ(dsp.pushCount(), 3u);
}

// Holds the stream thread inside each of its first two pushes, in the middle of a receive batch,
// until released.
class HoldingDsp : public CapturingDsp
{
public:
    bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_held < 2) {
            const int hold = ++m_held;
            m_changed.notify_all();
            // Longer than any wait of the test, so a wait that fails is not rescued by this one ending.
            m_changed.wait_for(lock, std::chrono::milliseconds(2 * kWaitMs),
                               [&] { return m_released >= hold; });
        }
        lock.unlock();
        return CapturingDsp::pushSamples(pairs, work, count, aux);
    }
    bool waitHeld(int hold)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return m_held >= hold; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_released;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_held = 0;
    int m_released = 0;
};

TEST_F(TarnixDeviceTest, ALongBatchHoldsBackNeitherCommandsNorReplies)
{
    // A device on the fixture's receiver whose pushes stall while datagrams wait behind them.
    device.stopReceiving();
    HoldingDsp holding;
    TarnixDevice held(&holding);
    ASSERT_TRUE(held.startReceiving(FakeReceiver::address(), port));
    ASSERT_TRUE(fake->sendStream(0));
    ASSERT_TRUE(holding.waitHeld(1));
    // Behind datagram 0, in the same batch: a reply, then more of the stream; and a command queued.
    const QByteArray answer = reply(0x0005, 22, 'r');
    ASSERT_TRUE(fake->send(answer));
    constexpr int kDatagrams = 6;
    for (quint16 n = 1; n < kDatagrams; ++n)
        ASSERT_TRUE(fake->sendStream(n));
    const QByteArray command = reply(0x0008, 26, 'c');
    held.queueControl(command);
    holding.release();

    // Held again in datagram 1, after the reply was read: the driver can take the reply now.
    ASSERT_TRUE(holding.waitHeld(2));
    std::atomic<bool> taken{false};
    QByteArray r;
    std::thread taker([&] { taken = held.takeReply(r); });
    EXPECT_TRUE(testsupport::waitUntil([&] { return taken.load(); }, kWaitMs));
    holding.release();
    taker.join();
    EXPECT_EQ(r, answer);

    // The command left right after the datagram in hand, ahead of the rest of the batch.
    ASSERT_TRUE(waitForReceived(kDatagrams + 1));
    const QList<QByteArray> out = received();
    ASSERT_EQ(out.size(), kDatagrams + 1);
    EXPECT_EQ(out[1], command);
    EXPECT_EQ(holding.pushCount(), size_t(kDatagrams));
    held.stopReceiving();
}

TEST_F(TarnixDeviceTest, SecondStartIsRefusedAndChangesNothing)
{
    const quint16 otherPort = testsupport::freeUdpPort();
    EXPECT_FALSE(device.startReceiving(QHostAddress(QStringLiteral("127.0.0.3")), otherPort));
    const QByteArray d = testsupport::streamDatagram(0);
    ASSERT_TRUE(fake->send(d));
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(received(), QList<QByteArray>{expectedAck(d)});
}

TEST(TarnixDeviceStart, FailsWhenThePortCannotBeBoundAndCanStartLater)
{
    const quint16 port = testsupport::freeUdpPort();
    ASSERT_NE(port, 0);
    CapturingDsp dsp;
    TarnixDevice device(&dsp);
    {
        QUdpSocket holder; // bound without address reuse: nobody else may share the port
        ASSERT_TRUE(
            holder.bind(QHostAddress(QHostAddress::AnyIPv4), port, QAbstractSocket::DontShareAddress));
        EXPECT_FALSE(device.startReceiving(FakeReceiver::address(), port));
        EXPECT_FALSE(device.isRunning());
    }
    EXPECT_TRUE(device.startReceiving(FakeReceiver::address(), port));
    device.stopReceiving();
    EXPECT_FALSE(device.isRunning());
}

TEST(TarnixDeviceGain, StoresTheLinearGainTruncatedAndSaturated)
{
    CapturingDsp dsp;
    TarnixDevice device(&dsp);
    EXPECT_EQ(device.gain(), 1);
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        double dB;
        qint32 gain;
    } cases[] = {
        {0.0, 2147483647}, {-20.0, 214748364}, {-40.0, 21474836}, {-6.0, 1076291388},
        {0.5, 2147483647}, {6.0, 2147483647},  {1e6, 2147483647}, {inf, 2147483647},
        {-400.0, 0},       {-1e6, 0},          {-inf, 0},
    };
    for (const auto &c : cases) {
        device.setGain(c.dB);
        EXPECT_EQ(device.gain(), c.gain) << c.dB;
    }
    device.setGain(-20.0);
    device.setGain(std::nan(""));
    EXPECT_EQ(device.gain(), 214748364) << "NaN leaves the gain as it was";
}

TEST(TarnixDeviceStream, PatternReachesTheHostCallbackInOrderAndUnchanged)
{
    const quint16 port = testsupport::freeUdpPort();
    ASSERT_NE(port, 0);
    FakeReceiver fake(port);
    ASSERT_TRUE(fake.isBound());
    TarnixDsp dsp;
    TarnixDevice device(&dsp);
    {
        platform::MutexLocker lock(&g_hostMutex);
        g_hostIndices.clear();
    }
    ASSERT_TRUE(device.startReceiving(FakeReceiver::address(), port));
    dsp.startOutput(0, patternCallback);
    // 21 datagrams of 200 pairs: two whole blocks, 104 pairs left over. Datagram 7 is sent twice
    // and must reach the host once.
    constexpr int kDatagrams = 21;
    for (int n = 0; n < kDatagrams; ++n) {
        ASSERT_TRUE(fake.send(testsupport::patternDatagram(quint16(n), uint64_t(n) * 200)));
        if (n == 7) {
            ASSERT_TRUE(fake.send(testsupport::patternDatagram(7, 7 * 200)));
        }
        // Paced by the acknowledgements, so no datagram is lost to a full socket buffer.
        ASSERT_TRUE(fake.waitFor([&] { return fake.receivedCount() >= n + 1; }, kWaitMs));
    }
    ASSERT_TRUE(testsupport::waitUntil(
        [] {
            platform::MutexLocker lock(&g_hostMutex);
            return g_hostIndices.size() >= 2 * size_t(TarnixDsp::kBlockPairs);
        },
        kWaitMs));
    device.stopReceiving();
    ASSERT_TRUE(dsp.stopOutput());
    EXPECT_EQ(dsp.queuedPairs(), unsigned(kDatagrams * 200 - 2 * TarnixDsp::kBlockPairs));

    platform::MutexLocker lock(&g_hostMutex);
    ASSERT_EQ(g_hostIndices.size(), 2 * size_t(TarnixDsp::kBlockPairs));
    for (size_t k = 0; k < g_hostIndices.size(); ++k)
        ASSERT_EQ(g_hostIndices[k], int64_t(k)) << "pair " << k;
}
