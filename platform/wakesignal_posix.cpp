#include "platform/wakesignal.h"

#include "platform/clock.h"
#include "platform/passtrace.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct WakeSignal::State
{
    std::mutex mutex; // a leaf: nothing else is locked while it is held
    std::condition_variable changed;
    bool pending = false;
    std::int64_t notifiedUs = -1;
};

WakeSignal::WakeSignal() : m_state(new State) {}

WakeSignal::~WakeSignal() = default;

void WakeSignal::notify()
{
    State &s = *m_state;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.pending)
        return;
    s.pending = true;
    if (passtrace::on())
        s.notifiedUs = passtrace::nowUs();
    s.changed.notify_one();
}

bool WakeSignal::wait(int boundMs, std::int64_t *notifiedUs)
{
    State &s = *m_state;
    std::unique_lock<std::mutex> lock(s.mutex);
    const int ms = waitBoundMs(boundMs);
    if (!s.pending && ms > 0)
        s.changed.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return s.pending; });
    const bool notified = s.pending;
    s.pending = false;
    if (notifiedUs)
        *notifiedUs = notified ? s.notifiedUs : -1;
    s.notifiedUs = -1;
    return notified;
}

} // namespace platform
