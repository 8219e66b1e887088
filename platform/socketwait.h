#pragma once

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

private:
    friend WaitResult waitReadable(std::intptr_t socket, SocketWaker &waker, int boundMs);
    void drain();
    std::intptr_t m_handle;
};

} // namespace platform
