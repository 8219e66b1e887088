#include "stream/tarnixdsp.h"

#include "platform/mutexlocker.h"
#include "tests/support/fakereceiver.h"

#include <gtest/gtest.h>

#include <QMutex>

#include <atomic>
#include <vector>

namespace {

constexpr int kWaitMs = 5000;

// What the host callback saw. The callback is a plain function pointer, so this is global.
struct HostLog
{
    QMutex mutex;
    std::vector<std::vector<IqPair>> blocks;
    std::vector<int> counts, statuses;
    std::vector<float> offsets;
    std::vector<QThread *> threads;
    std::atomic<bool> inCallback{false};

    void reset()
    {
        platform::MutexLocker lock(&mutex);
        blocks.clear();
        counts.clear();
        statuses.clear();
        offsets.clear();
        threads.clear();
    }
    size_t blockCount()
    {
        platform::MutexLocker lock(&mutex);
        return blocks.size();
    }
};
HostLog g_log;

void hostCallback(int count, int status, float iqOffset, void *data)
{
    g_log.inCallback = true;
    {
        platform::MutexLocker lock(&g_log.mutex);
        const auto *pairs = static_cast<const IqPair *>(data);
        g_log.blocks.emplace_back(pairs, pairs + count);
        g_log.counts.push_back(count);
        g_log.statuses.push_back(status);
        g_log.offsets.push_back(iqOffset);
        g_log.threads.push_back(QThread::currentThread());
    }
    g_log.inCallback = false;
}

// Pushes `count` numbered pairs from `first` on in the receiver's 200-pair steps.
void pushNumbered(TarnixDsp &dsp, int first, int count, int step = 200)
{
    std::vector<IqPair> v(static_cast<size_t>(step));
    for (int done = 0; done < count;) {
        const int n = std::min(step, count - done);
        for (int k = 0; k < n; ++k)
            v[size_t(k)] = {first + done + k, ~(first + done + k)};
        EXPECT_FALSE(dsp.pushSamples(v.data(), nullptr, n, 0));
        done += n;
    }
}

void expectBlock(const std::vector<IqPair> &block, int first)
{
    ASSERT_EQ(block.size(), size_t(TarnixDsp::kBlockPairs));
    for (int k = 0; k < TarnixDsp::kBlockPairs; ++k) {
        ASSERT_EQ(block[size_t(k)].i, first + k) << "pair " << k;
        ASSERT_EQ(block[size_t(k)].q, ~(first + k)) << "pair " << k;
    }
}

class TarnixDspTest : public ::testing::Test
{
protected:
    void SetUp() override { g_log.reset(); }
    void TearDown() override { dsp.stopOutput(); }
    TarnixDsp dsp;
};

} // namespace

TEST_F(TarnixDspTest, DeliversWholeBlocksInOrderOnTheDeliveryThread)
{
    dsp.startOutput(3, hostCallback);
    EXPECT_EQ(dsp.priority(), QThread::TimeCriticalPriority);
    pushNumbered(dsp, 0, 2000);
    pushNumbered(dsp, 2000, 200);
    ASSERT_TRUE(testsupport::waitUntil([] { return g_log.blockCount() >= 1; }, kWaitMs));
    ASSERT_TRUE(testsupport::waitUntil([&] { return dsp.queuedPairs() == 152; }, kWaitMs));
    // 2200 + 2000 = 4200: the second block is 2048..4095 and 104 stay; the ring has wrapped.
    pushNumbered(dsp, 2200, 2000);
    ASSERT_TRUE(testsupport::waitUntil([] { return g_log.blockCount() >= 2; }, kWaitMs));
    ASSERT_TRUE(testsupport::waitUntil([&] { return dsp.queuedPairs() == 104; }, kWaitMs));
    ASSERT_TRUE(dsp.stopOutput());

    platform::MutexLocker lock(&g_log.mutex);
    ASSERT_EQ(g_log.blocks.size(), 2u) << "no partial or padded blocks";
    expectBlock(g_log.blocks[0], 0);
    expectBlock(g_log.blocks[1], 2048);
    for (size_t b = 0; b < g_log.blocks.size(); ++b) {
        EXPECT_EQ(g_log.counts[b], 2048);
        EXPECT_EQ(g_log.statuses[b], 0);
        EXPECT_EQ(g_log.offsets[b], 0.0f);
        EXPECT_EQ(g_log.threads[b], &dsp) << "the callback runs on the delivery thread";
    }
}

TEST_F(TarnixDspTest, NoCallbackAfterStopOutputReturns)
{
    dsp.startOutput(0, hostCallback);
    // Keep blocks coming while stopping, so a late callback would have every chance to show.
    pushNumbered(dsp, 0, 4000);
    ASSERT_TRUE(testsupport::waitUntil([] { return g_log.blockCount() >= 1; }, kWaitMs));
    pushNumbered(dsp, 4000, 2100);
    EXPECT_TRUE(dsp.stopOutput());
    EXPECT_FALSE(g_log.inCallback);
    EXPECT_TRUE(dsp.isFinished());
    const size_t atStop = g_log.blockCount();
    pushNumbered(dsp, 6100, 4000);
    EXPECT_EQ(g_log.blockCount(), atStop);
    EXPECT_TRUE(dsp.stopOutput()) << "stopping a stopped output succeeds";
}

TEST_F(TarnixDspTest, StartOutputDiscardsWhatAnEarlierStreamLeft)
{
    dsp.startOutput(0, hostCallback);
    pushNumbered(dsp, 0, 2047);
    ASSERT_TRUE(dsp.stopOutput());
    pushNumbered(dsp, 5000, 1000); // arrives while stopped
    ASSERT_EQ(g_log.blockCount(), 0u);

    dsp.startOutput(0, hostCallback);
    pushNumbered(dsp, 100000, 2048);
    ASSERT_TRUE(testsupport::waitUntil([] { return g_log.blockCount() >= 1; }, kWaitMs));
    ASSERT_TRUE(dsp.stopOutput());
    platform::MutexLocker lock(&g_log.mutex);
    ASSERT_EQ(g_log.blocks.size(), 1u);
    expectBlock(g_log.blocks[0], 100000);
}

TEST_F(TarnixDspTest, NullCallbackStillDrainsTheFifo)
{
    dsp.startOutput(0, nullptr);
    pushNumbered(dsp, 0, 4000);
    EXPECT_TRUE(testsupport::waitUntil([&] { return dsp.queuedPairs() == 4000 - 2048; }, kWaitMs));
    ASSERT_TRUE(dsp.stopOutput());
    EXPECT_EQ(g_log.blockCount(), 0u);
}

TEST_F(TarnixDspTest, BurstsFasterThanWakeUpsReachTheHostAtOnceNotAtTheGuard)
{
    // Blocks completed faster than the thread is woken for each: it must take them up by itself,
    // and a burst that ends just as it goes back to rest must still wake it. Lost, such blocks would
    // wait for the once-a-second guard.
    constexpr int kBursts = 6, kBlocksPerBurst = 20;
    constexpr int kPromptMs = TarnixDsp::kMaxWaitMs / 2;
    dsp.startOutput(0, hostCallback);
    for (int b = 0; b < kBursts; ++b) {
        pushNumbered(dsp, b * kBlocksPerBurst * TarnixDsp::kBlockPairs,
                     kBlocksPerBurst * TarnixDsp::kBlockPairs);
        const size_t want = size_t(b + 1) * kBlocksPerBurst;
        ASSERT_TRUE(testsupport::waitUntil([&] { return g_log.blockCount() >= want; }, kPromptMs))
            << "burst " << b;
        QThread::msleep(5 * (b % 3)); // back to rest, or not yet
    }
    ASSERT_TRUE(dsp.stopOutput());
    platform::MutexLocker lock(&g_log.mutex);
    ASSERT_EQ(g_log.blocks.size(), size_t(kBursts * kBlocksPerBurst));
    for (size_t k = 0; k < g_log.blocks.size(); ++k)
        expectBlock(g_log.blocks[k], int(k) * TarnixDsp::kBlockPairs);
}
