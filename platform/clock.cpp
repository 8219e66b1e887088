#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {
std::atomic<bool> g_coarse{false};

unsigned long coarseUs(unsigned long us)
{
    const unsigned long ticks = us == 0 ? 1 : (us + kCoarseTickUs - 1) / kCoarseTickUs;
    return ticks * kCoarseTickUs;
}
} // namespace

void setCoarseClock(bool on)
{
    g_coarse = on;
}

bool coarseClock()
{
    return g_coarse;
}

void sleepMs(unsigned long ms)
{
    const unsigned long us = g_coarse ? coarseUs(ms * 1000) : ms * 1000;
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

int waitBoundMs(int ms)
{
    if (ms <= 0 || !g_coarse)
        return ms < 0 ? 0 : ms;
    return int((coarseUs(static_cast<unsigned long>(ms) * 1000) + 999) / 1000);
}

} // namespace platform
