#pragma once

// Reading a datagram together with the time the kernel took it in, for the simulator and the test
// peers: a reader that was not scheduled for a while still knows when each datagram came. The
// socket must have SO_TIMESTAMPNS set; without a stamp the time of reading stands in.

#include <QtGlobal>

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

namespace sim {

// CLOCK_REALTIME in nanoseconds, the clock of the kernel's stamps.
inline qint64 realtimeNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// recvmsg with `flags` (MSG_TRUNC: an oversized datagram reports its true length); -1 when none is
// waiting on a non-blocking socket.
inline ssize_t receiveStamped(int fd, void *buffer, size_t capacity, int flags, sockaddr_in *from,
                              qint64 *arrivalNs)
{
    iovec io{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_name = from;
    m.msg_namelen = sizeof *from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &m, flags);
    if (n < 0)
        return n;
    *arrivalNs = realtimeNs();
    for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t{};
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            *arrivalNs = qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
        }
    }
    return n;
}

} // namespace sim
