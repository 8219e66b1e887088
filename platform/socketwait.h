#pragma once

#include "platform/passtrace.h"

#include <atomic>
#include <cstdint>

namespace platform {

class SocketWaker;

enum class WaitResult { Readable, Woken, TimedOut };

// Waits until `socket` (a descriptor as QAbstractSocket::socketDescriptor() gives it) has something to
// read, `waker` was woken, or the bound (see waitBoundMs) has passed. A socket error counts as
// readable: the read that follows collects it. Readable wins when both happened; a wake-up is used up
// either way.
WaitResult waitReadable(std::intptr_t socket, SocketWaker &waker, int boundMs);

// Wakes a thread that waits in waitReadable() for its socket: an eventfd on Linux, a loopback UDP
// socket that sends itself a byte on Windows (WSAPoll waits on sockets only). wake() may come from any
// thread and is never lost.
class SocketWaker
{
public:
    SocketWaker();
    ~SocketWaker();
    SocketWaker(const SocketWaker &) = delete;
    SocketWaker &operator=(const SocketWaker &) = delete;

    // False when the system refused the resources; waits then last until their bound.
    bool isValid() const;
    void wake();
    // With the pass trace on: when the first wake-up since the last call was given, else -1.
    std::int64_t takeWokenUs() { return m_wokenUs.exchange(-1); }

private:
    friend WaitResult waitReadable(std::intptr_t socket, SocketWaker &waker, int boundMs);
    void stampWake()
    {
        std::int64_t none = -1;
        if (passtrace::on())
            m_wokenUs.compare_exchange_strong(none, passtrace::nowUs());
    }
    void drain();
    std::intptr_t m_handle;
    std::atomic<std::int64_t> m_wokenUs{-1};
};

} // namespace platform
