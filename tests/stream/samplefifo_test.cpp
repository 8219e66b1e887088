#include "stream/samplefifo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Pairs that carry their own running index, so order and values can be checked together.
std::vector<IqPair> numbered(int first, int count)
{
    std::vector<IqPair> v(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        v[size_t(k)] = {first + k, -(first + k)};
    return v;
}

void expectNumbered(const std::vector<IqPair> &v, int first)
{
    for (size_t k = 0; k < v.size(); ++k) {
        ASSERT_EQ(v[k].i, first + int(k)) << "at " << k;
        ASSERT_EQ(v[k].q, -(first + int(k))) << "at " << k;
    }
}

} // namespace

TEST(SampleFifo, CapacityIsRoundedUpToAPowerOfTwo)
{
    const struct
    {
        int requested, actual;
    } cases[] = {{4096, 4096}, {3000, 4096}, {4097, 8192}, {2, 2}, {3, 4}, {1, 1}, {0, 1}, {-7, 1}};
    for (const auto &c : cases) {
        SampleFifo fifo(c.requested);
        EXPECT_EQ(fifo.capacity(), c.actual) << c.requested;
        // The rounded ring works: it holds capacity - 1 pairs.
        const auto in = numbered(0, c.actual - 1);
        fifo.push(in.data(), int(in.size()));
        EXPECT_EQ(fifo.available(), unsigned(c.actual - 1)) << c.requested;
    }
}

TEST(SampleFifo, KeepsOrderAcrossTheRingBoundary)
{
    SampleFifo fifo(4096);
    // 200-pair pushes and 2048-pair pops, as in use: the writes wrap in mid-push.
    int pushed = 0, popped = 0;
    std::vector<IqPair> block(2048);
    for (int round = 0; round < 100; ++round) {
        const auto in = numbered(pushed, 200);
        fifo.push(in.data(), 200);
        pushed += 200;
        if (fifo.available() >= 2048) {
            ASSERT_TRUE(fifo.pop(block.data(), 2048));
            expectNumbered(block, popped);
            popped += 2048;
        }
        ASSERT_EQ(fifo.available(), unsigned(pushed - popped));
    }
    EXPECT_GT(popped, 4096 * 2);
}

TEST(SampleFifo, PopOfMoreThanAvailableTakesNothing)
{
    SampleFifo fifo(4096);
    const auto in = numbered(10, 100);
    fifo.push(in.data(), 100);
    std::vector<IqPair> out(101, IqPair{7, 7});
    EXPECT_FALSE(fifo.pop(out.data(), 101));
    EXPECT_EQ(out[0].i, 7);
    EXPECT_EQ(fifo.available(), 100u);
    out.resize(100);
    EXPECT_TRUE(fifo.pop(out.data(), 100));
    expectNumbered(out, 10);
    EXPECT_EQ(fifo.available(), 0u);
}

TEST(SampleFifo, OverrunDropsWhatTheWriterOvertook)
{
    struct Case
    {
        std::vector<int> pushes; // sizes, pushed one after another
        unsigned int level;      // fill level afterwards; the last `level` pushed are what pops
    };
    const Case cases[] = {
        {{4096}, 0},        // a full ring's worth reads as empty
        {{4096, 200}, 200}, // the last 200 pushed
        {{4296}, 200},      // the same in one push
        {{5000}, 904},      // one push larger than the ring keeps only its tail
        {{200, 200, 4000}, 304},
    };
    for (const Case &c : cases) {
        SampleFifo fifo(4096);
        int total = 0;
        for (int n : c.pushes) {
            const auto in = numbered(total, n);
            fifo.push(in.data(), n);
            total += n;
        }
        EXPECT_EQ(fifo.available(), c.level) << total;
        if (c.level) {
            std::vector<IqPair> out(c.level);
            ASSERT_TRUE(fifo.pop(out.data(), c.level));
            expectNumbered(out, total - int(c.level));
        }
    }
}

TEST(SampleFifo, ClearEmptiesAndEmptyPushesAreIgnored)
{
    SampleFifo fifo(8);
    const auto in = numbered(1, 5);
    fifo.push(in.data(), 5);
    fifo.clear();
    EXPECT_EQ(fifo.available(), 0u);
    fifo.push(in.data(), 0);
    fifo.push(in.data(), -1);
    fifo.push(nullptr, 3);
    EXPECT_EQ(fifo.available(), 0u);
    const auto three = numbered(100, 3);
    fifo.push(three.data(), 3);
    std::vector<IqPair> out(3);
    ASSERT_TRUE(fifo.pop(out.data(), 3));
    expectNumbered(out, 100);
}
