#include "discovery/searcher.h"

#include "discovery/discoveryprotocol.h"
#include "platform/clock.h"

#include <QUdpSocket>

namespace {

// Address sharing as Windows binds by default, on every platform: the search may share its port with
// a program that allows it, and falls back to a lower port only when the port is held exclusively.
constexpr QUdpSocket::BindMode kBindMode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;

} // namespace

Searcher::Searcher(QObject *parent) : QThread(parent) {}

Searcher::~Searcher()
{
    // The socket of the last run is closed already; only its memory is left.
    delete m_socket;
}

void Searcher::setBroadcastTarget(const QHostAddress &target)
{
    m_target = target;
}

QList<Receiver> Searcher::search(quint16 port)
{
    m_port = port;
    m_results.clear();
    start(QThread::InheritPriority);
    wait();
    return m_results;
}

Receiver Searcher::findReceiver(const QString &serial, quint16 port)
{
    const QList<Receiver> found = search(port);
    if (found.isEmpty())
        return Receiver();
    if (!serial.isEmpty()) {
        for (const Receiver &r : found) {
            if (r.serial == serial)
                return r;
        }
    }
    return found.first();
}

void Searcher::run()
{
    delete m_socket;
    m_socket = new QUdpSocket;

    // Another program may hold the port; walk down until one binds. A lower port then also becomes
    // the port the request is broadcast to.
    // Port 0 is never tried: it would bind some random port nobody answers on.
    bool bound = false;
    quint16 port = m_port;
    for (int i = 0; i < kPortFallbackCount && port > 0; ++i, --port) {
        if (m_socket->bind(QHostAddress::AnyIPv4, port, kBindMode)) {
            bound = true;
            break;
        }
    }
    if (!bound) {
        m_socket->close();
        return;
    }

    sendBroadcastPacket(port);
    platform::sleepMs(kAnswerWaitMs);
    m_results = receiveBroadcastPacket();
    m_socket->close();
}

void Searcher::sendBroadcastPacket(quint16 port)
{
    m_socket->writeDatagram(discovery::buildRequest(), m_target, port);
}

QList<Receiver> Searcher::receiveBroadcastPacket()
{
    QList<Receiver> found;
    while (m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        QByteArray datagram(int(qMax<qint64>(size, 0)), '\0');
        const qint64 got = m_socket->readDatagram(datagram.data(), datagram.size());
        if (got < 0)
            break;
        datagram.resize(int(got));
        // Our own request, looped back by the network, fails the signature check here.
        Receiver r;
        if (discovery::parseReply(datagram, &r))
            found.append(r);
    }
    return found;
}
