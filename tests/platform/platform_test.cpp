#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/socketwait.h"
#include "platform/thread.h"
#include "platform/wakesignal.h"

#include <QUdpSocket>

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

TEST(PlatformWait, WakeUpsAreNeverLostAndADatagramEndsASocketWait)
{
    constexpr int kLongMs = 10000; // only a lost wake-up would wait this long
    platform::WakeSignal signal;
    signal.notify(); // before the wait: kept for it
    EXPECT_TRUE(signal.wait(kLongMs));
    EXPECT_FALSE(signal.wait(1));
    std::thread notifier([&signal] { signal.notify(); });
    EXPECT_TRUE(signal.wait(kLongMs));
    notifier.join();

    QUdpSocket socket;
    ASSERT_TRUE(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
    platform::SocketWaker waker;
    ASSERT_TRUE(waker.isValid());
    const std::intptr_t fd = socket.socketDescriptor();
    EXPECT_EQ(platform::waitReadable(fd, waker, 1), platform::WaitResult::TimedOut);
    waker.wake();
    waker.wake();
    EXPECT_EQ(platform::waitReadable(fd, waker, kLongMs), platform::WaitResult::Woken);
    EXPECT_EQ(platform::waitReadable(fd, waker, 1), platform::WaitResult::TimedOut); // both used up
    QUdpSocket sender;
    ASSERT_EQ(sender.writeDatagram("x", 1, QHostAddress::LocalHost, socket.localPort()), 1);
    EXPECT_EQ(platform::waitReadable(fd, waker, kLongMs), platform::WaitResult::Readable);
}

TEST(PlatformClock, CoarseClockMakesWaitBoundsWholeTicks)
{
    const struct
    {
        int ms, fine, coarse;
    } cases[] = {{0, 0, 0}, {1, 1, 16}, {15, 15, 16}, {16, 16, 32}, {20, 20, 32}, {250, 250, 250}};
    for (const auto &c : cases) {
        EXPECT_EQ(platform::waitBoundMs(c.ms), c.fine) << c.ms;
        platform::setCoarseClock(true);
        EXPECT_EQ(platform::waitBoundMs(c.ms), c.coarse) << c.ms;
        platform::setCoarseClock(false);
    }
}
