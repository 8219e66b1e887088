#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// Wakes a thread that waits for its work: a condition variable on Linux, an event on Windows. notify()
// may come from any thread and is never lost: a wait that starts after it returns at once. One thread
// waits.
class WakeSignal
{
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal &) = delete;
    WakeSignal &operator=(const WakeSignal &) = delete;

    void notify();
    // Waits until notified or until the bound (see waitBoundMs) has passed. True when notified; the
    // notification is used up either way. With the pass trace on, `notifiedUs` (if given) receives
    // when the notification was given, else -1.
    bool wait(int boundMs, std::int64_t *notifiedUs = nullptr);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace platform
