#pragma once

#include <atomic>
#include <cstdint>

namespace platform {
namespace passtrace {

// Test seam, like the coarse clock: a test build of the plug-in turns it on at load and then records
// how late the worker threads ran and how long control datagrams waited to leave. The plug-in itself
// never turns it on, and every call below then costs one relaxed load and a branch.
enum Worker { Driver, Stream, Delivery, kWorkers };

extern std::atomic<bool> g_on;
inline bool on()
{
    return g_on.load(std::memory_order_relaxed);
}
void setOn(bool on);
// Microseconds on the threads' shared monotonic clock (platform::monotonicNs).
std::int64_t nowUs();

// The passes of one worker loop, used by that thread alone. A pass runs from the return of one wait to
// the start of the next. The trace keeps the longest pass and the latest wake-up: how long after the
// event the wait was for (a notification, or its bound running out) it returned.
class Passes
{
public:
    explicit Passes(Worker worker) : m_worker(worker) {}
    void waitBegins(int boundMs)
    {
        if (on())
            begin(boundMs);
    }
    // `notifiedUs`: when the wake-up that ended the wait was given, or -1 for none (its bound ran out,
    // or a datagram came, whose arrival time is not known here).
    void waitEnded(std::int64_t notifiedUs)
    {
        if (on())
            end(notifiedUs);
    }

private:
    void begin(int boundMs);
    void end(std::int64_t notifiedUs);

    const Worker m_worker;
    std::int64_t m_passStartUs = -1;
    std::int64_t m_waitStartUs = -1;
    std::int64_t m_waitBoundUs = 0;
};

// A control datagram joined the stream thread's outgoing queue; it left the socket (oldest first).
void controlQueued();
void controlSent(const unsigned char *datagram, int size);

// Appends what was recorded since the last flush to TarnixDDC_trace.txt in the working directory, then
// starts afresh. Nothing happens while the trace is off.
void flush();

} // namespace passtrace
} // namespace platform
