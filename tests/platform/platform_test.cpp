#include "platform/priority.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<int> g_ran{0};
std::atomic<bool> g_release{false};

void countAndEnd(void *arg)
{
    g_ran += *static_cast<int *>(arg);
    platform::endThread();
}

void blockUntilReleased(void *)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!g_release && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

TEST(Platform, ThreadRunsItsBodyAndCanBeWaitedFor)
{
    int add = 3;
    g_ran = 0;
    const platform::ThreadHandle h = platform::beginThread(countAndEnd, &add);
    ASSERT_NE(h, platform::ThreadHandle(0));
    EXPECT_TRUE(platform::waitThread(h, 5000));
    EXPECT_EQ(g_ran.load(), 3);
}

TEST(Platform, WaitGivesUpAfterItsTimeAndLaterSucceeds)
{
    g_release = false;
    const platform::ThreadHandle h = platform::beginThread(blockUntilReleased, nullptr);
    ASSERT_NE(h, platform::ThreadHandle(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::waitThread(h, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    g_release = true;
    EXPECT_TRUE(platform::waitThread(h, 5000));
}

TEST(Platform, PriorityRaisesNeverFailOrBlock)
{
    // Without privileges these are refused; either way they must return.
    platform::raiseProcessPriority();
    std::thread t([] { platform::raiseCurrentThreadPriority(); });
    t.join();
    SUCCEED();
}
