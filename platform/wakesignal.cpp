#include "platform/wakesignal.h"

#include "platform/clock.h"
#include "platform/passtrace.h"

#include <chrono>

namespace platform {

void WakeSignal::notify()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pending)
        return;
    m_pending = true;
    if (passtrace::on())
        m_notifiedUs = passtrace::nowUs();
    m_changed.notify_one();
}

bool WakeSignal::wait(int boundMs, std::int64_t *notifiedUs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const int ms = waitBoundMs(boundMs);
    if (!m_pending && ms > 0)
        m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_pending; });
    const bool notified = m_pending;
    m_pending = false;
    if (notifiedUs)
        *notifiedUs = notified ? m_notifiedUs : -1;
    m_notifiedUs = -1;
    return notified;
}

} // namespace platform
