#include "platform/socketwait.h"

#include "platform/clock.h"

#include <winsock2.h>

namespace platform {

// The waker is a UDP socket on the loopback address that wake() makes readable by sending a byte to
// itself. Sockets are what WSAPoll waits on; an event object would need WSAEventSelect on the
// stream socket, which excludes the WSAAsyncSelect that Qt's socket notifiers rely on.
SocketWaker::SocketWaker() : m_handle(std::intptr_t(INVALID_SOCKET))
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    u_long nonBlocking = 1;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<const sockaddr *>(&self), sizeof self) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        WSACleanup();
        return;
    }
    m_handle = std::intptr_t(s);
}

SocketWaker::~SocketWaker()
{
    if (!isValid())
        return;
    ::closesocket(SOCKET(m_handle));
    WSACleanup();
}

bool SocketWaker::isValid() const
{
    return SOCKET(m_handle) != INVALID_SOCKET;
}

void SocketWaker::wake()
{
    if (!isValid())
        return;
    stampWake();
    sockaddr_in self{};
    int length = sizeof self;
    if (::getsockname(SOCKET(m_handle), reinterpret_cast<sockaddr *>(&self), &length) != 0)
        return;
    const char byte = 0;
    ::sendto(SOCKET(m_handle), &byte, 1, 0, reinterpret_cast<const sockaddr *>(&self), length);
}

void SocketWaker::drain()
{
    char bytes[64];
    while (::recv(SOCKET(m_handle), bytes, sizeof bytes, 0) > 0) {
    }
}

WaitResult waitReadable(std::intptr_t socket, SocketWaker &waker, int boundMs)
{
    WSAPOLLFD fds[2] = {{SOCKET(socket), POLLRDNORM, 0}, {SOCKET(waker.m_handle), POLLRDNORM, 0}};
    const int ready = WSAPoll(fds, waker.isValid() ? 2 : 1, waitBoundMs(boundMs));
    if (ready <= 0)
        return WaitResult::TimedOut;
    const bool woken = waker.isValid() && fds[1].revents != 0;
    if (woken)
        waker.drain();
    return fds[0].revents != 0 ? WaitResult::Readable : woken ? WaitResult::Woken : WaitResult::TimedOut;
}

} // namespace platform
