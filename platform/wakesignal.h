#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

// Wakes a thread that waits for its work. notify() may come from any thread and is never lost: a
// wait that starts after it returns at once. One thread waits.
class WakeSignal
{
public:
    void notify();
    // Waits until notified or until the bound (see waitBoundMs) has passed. True when notified; the
    // notification is used up either way. With the pass trace on, `notifiedUs` (if given) receives
    // when the notification was given, else -1.
    bool wait(int boundMs, std::int64_t *notifiedUs = nullptr);

private:
    std::mutex m_mutex; // a leaf: nothing else is locked while it is held
    std::condition_variable m_changed;
    bool m_pending = false;
    std::int64_t m_notifiedUs = -1;
};

} // namespace platform
