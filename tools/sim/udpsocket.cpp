#include "tools/sim/udpsocket.h"

#include "tools/sim/arrivalstamp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr int kSocketBufferBytes = 4 << 20;
}

QString Endpoint::toString() const
{
    return QStringLiteral("%1.%2.%3.%4:%5")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF)
        .arg(port);
}

sockaddr_in toSockaddr(const Endpoint &e)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.address);
    a.sin_port = htons(e.port);
    return a;
}

UdpSocket::~UdpSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UdpSocket::bind(quint32 address, quint16 port, QString *error)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int one = 1, size = kSocketBufferBytes;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    const sockaddr_in a = toSockaddr({address, port});
    if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        *error = QStringLiteral("cannot bind %1: %2")
                     .arg(Endpoint{address, port}.toString(), QString::fromLocal8Bit(std::strerror(errno)));
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

Endpoint UdpSocket::local() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
    return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

int UdpSocket::receive(uchar *buffer, int capacity, Endpoint *from, qint64 *arrivalNs)
{
    sockaddr_in a{};
    qint64 stamp = 0;
    const ssize_t n = receiveStamped(m_fd, buffer, size_t(capacity), MSG_TRUNC, &a, &stamp);
    if (n < 0)
        return -1;
    *from = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
    if (arrivalNs)
        *arrivalNs = stamp;
    // An oversized datagram is reported by its true length but only `capacity` bytes are kept.
    return int(qMin<ssize_t>(n, capacity));
}

bool UdpSocket::sendTo(const uchar *d, int len, const Endpoint &to)
{
    const sockaddr_in a = toSockaddr(to);
    return ::sendto(m_fd, d, size_t(len), 0, reinterpret_cast<const sockaddr *>(&a), sizeof a) == len;
}

quint32 UdpSocket::localAddressToward(const Endpoint &to)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    const sockaddr_in a = toSockaddr(to);
    quint32 result = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0) {
        sockaddr_in l{};
        socklen_t len = sizeof l;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&l), &len) == 0)
            result = ntohl(l.sin_addr.s_addr);
    }
    ::close(fd);
    return result;
}

bool waitForArrivalStamps(int timeoutMs)
{
    UdpSocket probe;
    QString error;
    if (!probe.bind(INADDR_LOOPBACK, 0, &error))
        return false;
    const Endpoint self = probe.local();
    const uchar byte = 0;
    for (int waitedMs = 0; waitedMs < timeoutMs; ++waitedMs) {
        if (!probe.sendTo(&byte, 1, self))
            return false;
        const qint64 sentNs = realtimeNs();
        pollfd p{probe.fd(), POLLIN, 0};
        uchar back = 0;
        Endpoint from;
        qint64 arrivalNs = 0;
        if (::poll(&p, 1, 100) == 1 && probe.receive(&back, 1, &from, &arrivalNs) == 1 && arrivalNs <= sentNs)
            return true;
        ::usleep(1000);
    }
    return false;
}

} // namespace sim
