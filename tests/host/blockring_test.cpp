#include "tools/host/blockring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {
std::vector<IqPair> block(int tag, int count = kBlockPairs)
{
    std::vector<IqPair> b(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n)
        b[size_t(n)] = {tag, n};
    return b;
}
} // namespace

TEST(BlockRing, FullRingCountsLossAndTellsTheNextBlock)
{
    BlockRing ring(2);
    EXPECT_TRUE(ring.push(block(1).data(), kBlockPairs));
    EXPECT_TRUE(ring.push(block(2).data(), 100));
    EXPECT_FALSE(ring.push(block(3).data(), kBlockPairs));
    EXPECT_FALSE(ring.push(block(4).data(), 7));
    EXPECT_EQ(ring.lostPairs(), quint64(kBlockPairs + 7));

    ASSERT_NE(ring.peek(), nullptr);
    EXPECT_EQ(ring.peek()->pairs[0].i, 1);
    EXPECT_EQ(ring.peek()->pairsLostBefore, 0u);
    ring.release();
    EXPECT_TRUE(ring.push(block(5).data(), kBlockPairs));

    ASSERT_NE(ring.peek(), nullptr);
    EXPECT_EQ(ring.peek()->count, 100);
    ring.release();
    const SampleBlock *after = ring.peek();
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->pairs[kBlockPairs - 1].i, 5);
    EXPECT_EQ(after->pairsLostBefore, quint64(kBlockPairs + 7));
    ring.release();
    EXPECT_EQ(ring.peek(), nullptr);
}

TEST(BlockRing, ConsumerSeesBlocksInOrderAndEveryLossAccounted)
{
    constexpr int kBlocks = 3000;
    BlockRing ring(8);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        std::vector<IqPair> tagged = block(0);
        for (int tag = 0; tag < kBlocks; ++tag) {
            tagged[0].i = tagged[kBlockPairs - 1].i = tag;
            ring.push(tagged.data(), kBlockPairs); // a full ring drops the block, as on the plug-in's thread
            std::this_thread::yield();
        }
        done = true;
    });
    int next = 0, received = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const SampleBlock *b = ring.peek();
        if (!b) {
            // The producer publishes its last block before `done`; look once more after seeing it.
            if (done && !ring.peek())
                break;
            std::this_thread::yield();
            continue;
        }
        next += int(b->pairsLostBefore / kBlockPairs);
        ASSERT_EQ(b->pairs[0].i, next);
        ASSERT_EQ(b->pairs[kBlockPairs - 1].i, next);
        ring.release();
        ++next;
        ++received;
    }
    producer.join();
    EXPECT_GT(received, 0);
    EXPECT_EQ(quint64(received) + ring.lostPairs() / kBlockPairs, quint64(kBlocks));
}
