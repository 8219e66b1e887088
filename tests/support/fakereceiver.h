#pragma once

// An in-process stand-in for the receiver on loopback, for tests of the stream receiver and of
// everything built on it.
//
// Addressing: the plug-in side binds 0.0.0.0:P with QAbstractSocket::ShareAddress (SO_REUSEADDR on
// Unix; Qt's default bind mode there does not set it) and the fake binds 127.0.0.2:P, also with
// address reuse. Linux hands a datagram to the most specific bound socket, so datagrams to
// 127.0.0.1:P reach the plug-in and datagrams to 127.0.0.2:P reach the fake. Give the plug-in
// 127.0.0.2 as the receiver's address and P as its port.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QUdpSocket>

#include <cstdint>
#include <functional>
#include <vector>

namespace testsupport {

// A UDP port that is free on 0.0.0.0, 127.0.0.1 and 127.0.0.2 at the time of the call; 0 if
// none was found.
quint16 freeUdpPort();

// Runs the event loop until pred() is true or timeoutMs has passed; returns pred()'s last value.
bool waitUntil(const std::function<bool()> &pred, int timeoutMs);

// A 24-bit sample pair as the receiver sends it; only the low 24 bits of each value are used.
struct Sample24
{
    qint32 i;
    qint32 q;
};

// Header bytes of a stream datagram that the plug-in does not interpret. Non-zero by default, so
// a test sees whether they come back in the acknowledgement (offset 4 must come back as zero).
struct StreamHeader
{
    quint16 word0 = 0xA55A;
    quint16 word4 = 0xBEEF;
    quint8 byte8 = 0x5C;
    quint8 aux = 0x07;
};

// A 1210-byte stream datagram with the given sequence number; missing samples are zero.
QByteArray streamDatagram(quint16 sequence, const std::vector<Sample24> &samples = {},
                          const StreamHeader &header = {});
// A stream datagram carrying the simulator's verifiable pattern, samples firstIndex .. +199.
QByteArray patternDatagram(quint16 sequence, uint64_t firstIndex);

struct ReceivedDatagram
{
    QByteArray data;
    QHostAddress sender;
    quint16 senderPort = 0;
    qint64 atMs = 0; // milliseconds since the fake was created
};

class FakeReceiver
{
public:
    static QHostAddress address() { return QHostAddress(QStringLiteral("127.0.0.2")); }
    static QHostAddress pluginAddress() { return QHostAddress(QStringLiteral("127.0.0.1")); }

    explicit FakeReceiver(quint16 port);
    bool isBound() const;
    quint16 port() const { return m_port; }

    // Sends to the plug-in side, 127.0.0.1 at the same port.
    bool send(const QByteArray &datagram);
    bool sendStream(quint16 sequence, const std::vector<Sample24> &samples = {},
                    const StreamHeader &header = {});

    // Called for every datagram received, before it is recorded, e.g. to answer commands.
    void setResponder(std::function<void(const ReceivedDatagram &)> responder);

    // Everything received so far, oldest first (reads pending datagrams first).
    QList<ReceivedDatagram> received();
    int receivedCount();
    void clearReceived();

    // Reads incoming datagrams until pred() is true or timeoutMs has passed.
    bool waitFor(const std::function<bool()> &pred, int timeoutMs);

private:
    void drain();

    quint16 m_port;
    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    QList<ReceivedDatagram> m_received;
    std::function<void(const ReceivedDatagram &)> m_responder;
};

} // namespace testsupport
