#pragma once

#include "discovery/receiver.h"
#include "protocol/datagram.h"

#include <QHostAddress>
#include <QList>
#include <QThread>

class QUdpSocket;

// One discovery run per start: binds a socket (falling back over twenty ports), broadcasts the request,
// waits for answers and collects them. The caller blocks until the run is over.
class Searcher : public QThread
{
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = wire::kDefaultPort;
    static constexpr int kPortFallbackCount = 20;
    static constexpr unsigned long kAnswerWaitMs = 250;

    explicit Searcher(QObject *parent = nullptr);
    ~Searcher() override;

    // Every receiver that answered a broadcast on `port` (or a fallback port), in order of arrival.
    QList<Receiver> search(quint16 port);
    // The first answer with `serial`, else the first answer, else an empty record.
    Receiver findReceiver(const QString &serial, quint16 port);

    // Where the request goes. Tests point it at a loopback address; it is the IPv4 broadcast address
    // otherwise.
    void setBroadcastTarget(const QHostAddress &target);
    QHostAddress broadcastTarget() const { return m_target; }

protected:
    void run() override;

private slots:
    void sendBroadcastPacket(quint16 port);
    QList<Receiver> receiveBroadcastPacket();

private:
    QUdpSocket *m_socket = nullptr;
    quint16 m_port = kDefaultPort;
    QList<Receiver> m_results;
    QHostAddress m_target{QHostAddress::Broadcast};
};
