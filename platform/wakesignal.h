#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// Wakes a thread that waits for its work. notify() may come from any thread and is never lost: a
// wait that starts after it returns at once. One thread waits.
class WakeSignal
{
public:
    void notify();
    // Waits until notified or until the bound (see waitBoundMs) has passed. True when notified; the
    // notification is used up either way.
    bool wait(int boundMs);

private:
    std::mutex m_mutex; // a leaf: nothing else is locked while it is held
    std::condition_variable m_changed;
    bool m_pending = false;
};

} // namespace platform
