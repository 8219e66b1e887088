#include "discovery/searcher.h"

#include "discovery/discoveryprotocol.h"
#include "platform/clock.h"

#include <QUdpSocket>

namespace {

// The search must not bind beside a socket that holds its port, or the system hands that socket's
// unicast datagrams to either of the two: stream datagrams would vanish unacknowledged and answers
// land on the stream socket. A port in use has to make the search move one lower instead.
#ifdef Q_OS_WIN
// Windows' own default: Qt's ReuseAddressHint would set SO_REUSEADDR, with which Windows lets a socket
// bind over any port not held with SO_EXCLUSIVEADDRUSE, the plug-in's own stream socket included.
constexpr QUdpSocket::BindMode kBindMode = QUdpSocket::DefaultForPlatform;
#else
// Linux shares a port only among sockets that all set SO_REUSEADDR, and a socket bound to one address
// conflicts with one on the any-address unless both do: stand-in receivers on loopback addresses rely
// on that. A port held without it still refuses the search.
constexpr QUdpSocket::BindMode kBindMode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
#endif

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
