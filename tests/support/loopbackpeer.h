#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// A scripted UDP peer on a loopback address, in its own thread so that it answers while the test
// thread blocks in a search or a blocking command. It logs every datagram with its arrival time.
class LoopbackPeer : public QThread
{
public:
    using Responder = std::function<QList<QByteArray>(const QByteArray &request)>;
    struct Arrival
    {
        QByteArray datagram;
        qint64 atMs; // when the kernel took it in, not when the peer got round to reading it
    };

    LoopbackPeer(const QHostAddress &address, quint16 port, Responder responder = {});
    ~LoopbackPeer() override;

    // Starts the thread and waits (with a deadline) until the socket is bound.
    bool startBound();
    void setResponder(Responder responder);
    // Sends `datagram` to whoever last sent to the peer.
    void inject(const QByteArray &datagram);

    QList<Arrival> arrivals() const;
    QList<Arrival> arrivalsWithCode(quint16 code) const;

protected:
    void run() override;

private:
    const QHostAddress m_address;
    const quint16 m_port;
    const qint64 m_startNs; // arrival times count from here (CLOCK_REALTIME, as the kernel stamps)
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_bound{0}; // 0 trying, 1 bound, -1 failed
    mutable std::mutex m_lock;
    Responder m_responder;
    // Not a QList: copies handed to the test thread must share no container with this thread.
    std::vector<Arrival> m_arrivals;
    QList<QByteArray> m_injected;
};

// Polls `done` every millisecond until it holds or `timeoutMs` has passed.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000);

// A UDP port on which both 0.0.0.0 and the loopback addresses are free right now; with
// `alsoBelow`, the port one lower is free too.
quint16 freeUdpPort(bool alsoBelow = false);
