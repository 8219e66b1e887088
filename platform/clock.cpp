#include "platform/clock.h"

#include <QThread>

#include <atomic>

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
    if (g_coarse)
        QThread::usleep(coarseUs(ms * 1000));
    else
        QThread::msleep(ms);
}

void sleepUs(unsigned long us)
{
    if (g_coarse)
        QThread::usleep(coarseUs(us));
    else
        QThread::usleep(us);
}

int waitBoundMs(int ms)
{
    if (ms <= 0 || !g_coarse)
        return ms < 0 ? 0 : ms;
    return int((coarseUs(static_cast<unsigned long>(ms) * 1000) + 999) / 1000);
}

} // namespace platform
