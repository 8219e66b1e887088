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
// either way. After Readable the caller reads until nothing is left before it waits again: on Windows
// readiness is announced once per read that leaves something behind, not while data waits.
WaitResult waitReadable(std::intptr_t socket, SocketWaker &waker, int boundMs);

// Wakes a thread that waits in waitReadable() for its socket: an eventfd beside the socket in one
// poll on Linux; on Windows an event beside a second one that Winsock signals when the socket has
// something to read (WSAEventSelect), both in one WaitForMultipleObjects. wake() may come from any
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
    // Ties a newly bound socket to this waker (on Windows, to its readiness event; nothing on Linux).
    // A socket first waited for without it is tied then; a new socket that reuses an old one's
    // descriptor needs it.
    void watch(std::intptr_t socket);
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
    std::intptr_t m_handle; // the eventfd, or the wake-up event
    // Windows only: signalled when the watched socket has data, and the socket tied to it.
    [[maybe_unused]] std::intptr_t m_socketEvent = 0;
    [[maybe_unused]] std::intptr_t m_watched = -1;
    std::atomic<std::int64_t> m_wokenUs{-1};
};

} // namespace platform
