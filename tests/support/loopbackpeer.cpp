#include "tests/support/loopbackpeer.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>

namespace {

qint64 realtimeNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// One datagram read straight from the descriptor with the kernel's arrival stamp, so a peer thread
// that was not scheduled for a while still logs when each datagram came. False when none is waiting.
bool receiveStamped(int fd, QByteArray *datagram, QHostAddress *sender, quint16 *port, qint64 *arrivalNs)
{
    sockaddr_in from{};
    datagram->resize(65536);
    iovec io{datagram->data(), size_t(datagram->size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &m, MSG_DONTWAIT);
    if (n < 0)
        return false;
    datagram->resize(int(n));
    sender->setAddress(ntohl(from.sin_addr.s_addr));
    *port = ntohs(from.sin_port);
    *arrivalNs = realtimeNs();
    for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t{};
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            *arrivalNs = qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
        }
    }
    return true;
}

} // namespace

LoopbackPeer::LoopbackPeer(const QHostAddress &address, quint16 port, Responder responder)
    : m_address(address), m_port(port), m_startNs(realtimeNs()), m_responder(std::move(responder))
{}

LoopbackPeer::~LoopbackPeer()
{
    m_stop = true;
    wait();
}

bool LoopbackPeer::startBound()
{
    start();
    return waitUntil([this] { return m_bound != 0; }) && m_bound == 1;
}

void LoopbackPeer::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_responder = std::move(responder);
}

void LoopbackPeer::inject(const QByteArray &datagram)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_injected.append(datagram);
}

QList<LoopbackPeer::Arrival> LoopbackPeer::arrivals() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    QList<Arrival> copy;
    copy.reserve(int(m_arrivals.size()));
    for (const Arrival &a : m_arrivals)
        copy.append(a);
    return copy;
}

QList<LoopbackPeer::Arrival> LoopbackPeer::arrivalsWithCode(quint16 code) const
{
    QList<Arrival> out;
    for (const Arrival &a : arrivals()) {
        if (a.datagram.size() >= 4 && (quint8(a.datagram[2]) | quint8(a.datagram[3]) << 8) == code)
            out.append(a);
    }
    return out;
}

void LoopbackPeer::run()
{
    QUdpSocket socket;
    // Shared binding: the side under test binds the same port on the wildcard address.
    if (!socket.bind(m_address, m_port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        m_bound = -1;
        return;
    }
    const int fd = int(socket.socketDescriptor());
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    m_bound = 1;
    QHostAddress lastSender;
    quint16 lastPort = 0;
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 2);
        QByteArray datagram;
        qint64 arrivalNs = 0;
        while (receiveStamped(fd, &datagram, &lastSender, &lastPort, &arrivalNs)) {
            QList<QByteArray> replies;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_arrivals.push_back({datagram, (arrivalNs - m_startNs) / 1000000});
                if (m_responder)
                    replies = m_responder(datagram);
            }
            for (const QByteArray &reply : replies)
                socket.writeDatagram(reply, lastSender, lastPort);
        }
        QList<QByteArray> injected;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (lastPort != 0)
                injected.swap(m_injected);
        }
        for (const QByteArray &d : injected)
            socket.writeDatagram(d, lastSender, lastPort);
    }
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

quint16 freeUdpPort(bool alsoBelow)
{
    constexpr int kAttempts = 50;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress))
            continue;
        const quint16 port = probe.localPort();
        probe.close();
        if (!alsoBelow)
            return port;
        QUdpSocket below;
        if (port > 1 && below.bind(QHostAddress::AnyIPv4, port - 1, QUdpSocket::DontShareAddress))
            return port;
    }
    return 0;
}
