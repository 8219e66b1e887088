#include "tests/support/loopbackpeer.h"

#include "tools/sim/arrivalstamp.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

LoopbackPeer::LoopbackPeer(const QHostAddress &address, quint16 port, Responder responder)
    : m_address(address), m_port(port), m_startNs(sim::realtimeNs()), m_responder(std::move(responder))
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
    std::vector<char> buffer(65536); // one for the thread's life: the loop polls every 2 ms
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 2);
        for (;;) {
            sockaddr_in from{};
            qint64 arrivalNs = 0;
            const ssize_t n =
                sim::receiveStamped(fd, buffer.data(), buffer.size(), MSG_DONTWAIT, &from, &arrivalNs);
            if (n < 0)
                break;
            const QByteArray datagram(buffer.data(), int(n));
            lastSender.setAddress(ntohl(from.sin_addr.s_addr));
            lastPort = ntohs(from.sin_port);
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
