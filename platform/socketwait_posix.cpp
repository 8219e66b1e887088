#include "platform/socketwait.h"

#include "platform/clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

SocketWaker::SocketWaker() : m_handle(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SocketWaker::~SocketWaker()
{
    if (isValid())
        ::close(int(m_handle));
}

bool SocketWaker::isValid() const
{
    return m_handle >= 0;
}

void SocketWaker::wake()
{
    if (!isValid())
        return;
    stampWake();
    const std::uint64_t one = 1;
    // Only a counter at its limit refuses, and that one wakes the waiter already.
    (void)!::write(int(m_handle), &one, sizeof one);
}

void SocketWaker::watch(std::intptr_t) {}

void SocketWaker::drain()
{
    std::uint64_t count;
    (void)!::read(int(m_handle), &count, sizeof count);
}

WaitResult waitReadable(std::intptr_t socket, SocketWaker &waker, int boundMs)
{
    pollfd fds[2] = {{int(socket), POLLIN, 0}, {waker.isValid() ? int(waker.m_handle) : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, waitBoundMs(boundMs));
    if (ready <= 0)
        return WaitResult::TimedOut; // EINTR included: the caller's loop looks again
    const bool woken = fds[1].revents != 0;
    if (woken)
        waker.drain();
    return fds[0].revents != 0 ? WaitResult::Readable : woken ? WaitResult::Woken : WaitResult::TimedOut;
}

} // namespace platform
