#include "tests/support/fakereceiver.h"

#include "protocol/stream.h"
#include "tools/sim/pattern.h"

#include <QCoreApplication>
#include <QThread>

namespace testsupport {

namespace {

constexpr int kFreePortAttempts = 50;
constexpr int kPollSliceMs = 2;

bool bindable(const QHostAddress &address, quint16 port)
{
    QUdpSocket probe;
    return probe.bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
}

void write24(uchar *at, qint32 v)
{
    const quint32 u = quint32(v);
    at[0] = uchar(u);
    at[1] = uchar(u >> 8);
    at[2] = uchar(u >> 16);
}

} // namespace

quint16 freeUdpPort()
{
    for (int attempt = 0; attempt < kFreePortAttempts; ++attempt) {
        QUdpSocket picker;
        if (!picker.bind(QHostAddress(QHostAddress::AnyIPv4), 0, QAbstractSocket::DontShareAddress))
            continue;
        const quint16 port = picker.localPort();
        picker.close();
        if (bindable(QHostAddress(QStringLiteral("127.0.0.1")), port) &&
            bindable(QHostAddress(QStringLiteral("127.0.0.2")), port) &&
            bindable(QHostAddress(QHostAddress::AnyIPv4), port))
            return port;
    }
    return 0;
}

bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() >= timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollSliceMs);
        QThread::msleep(1);
    }
    return true;
}

QByteArray streamDatagram(quint16 sequence, const std::vector<Sample24> &samples, const StreamHeader &header)
{
    QByteArray d(wire::kStreamDatagramBytes, '\0');
    wire::writeU16(d, 0, header.word0);
    wire::writeU16(d, wire::kCodeOffset, wire::kCodeStream);
    wire::writeU16(d, wire::kStreamClearedOffset, header.word4);
    wire::writeU16(d, wire::kSequenceOffset, sequence);
    d[8] = char(header.byte8);
    d[wire::kAuxOffset] = char(header.aux);
    uchar *at = wire::bytes(d) + wire::kStreamHeaderBytes;
    for (size_t k = 0; k < samples.size() && k < size_t(wire::kPairsPerDatagram); ++k) {
        write24(at + 6 * k, samples[k].i);
        write24(at + 6 * k + 3, samples[k].q);
    }
    return d;
}

QByteArray patternDatagram(quint16 sequence, uint64_t firstIndex)
{
    std::vector<Sample24> samples(wire::kPairsPerDatagram);
    for (int k = 0; k < wire::kPairsPerDatagram; ++k)
        samples[size_t(k)] = {qint32(pattern::i24(firstIndex + uint64_t(k))),
                              qint32(pattern::q24(firstIndex + uint64_t(k)))};
    return streamDatagram(sequence, samples);
}

FakeReceiver::FakeReceiver(quint16 port) : m_port(port)
{
    m_clock.start();
    m_socket.bind(address(), port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
}

bool FakeReceiver::isBound() const
{
    return m_socket.state() == QAbstractSocket::BoundState;
}

bool FakeReceiver::send(const QByteArray &datagram)
{
    return m_socket.writeDatagram(datagram, pluginAddress(), m_port) == datagram.size();
}

bool FakeReceiver::sendStream(quint16 sequence, const std::vector<Sample24> &samples,
                              const StreamHeader &header)
{
    return send(streamDatagram(sequence, samples, header));
}

void FakeReceiver::setResponder(std::function<void(const ReceivedDatagram &)> responder)
{
    m_responder = std::move(responder);
}

void FakeReceiver::drain()
{
    while (m_socket.hasPendingDatagrams()) {
        ReceivedDatagram r;
        r.data.resize(int(qMax<qint64>(m_socket.pendingDatagramSize(), 0)));
        const qint64 got = m_socket.readDatagram(r.data.data(), r.data.size(), &r.sender, &r.senderPort);
        if (got < 0)
            break;
        r.data.resize(int(got));
        r.atMs = m_clock.elapsed();
        if (m_responder)
            m_responder(r);
        m_received.append(r);
    }
}

QList<ReceivedDatagram> FakeReceiver::received()
{
    drain();
    return m_received;
}

int FakeReceiver::receivedCount()
{
    drain();
    return m_received.size();
}

void FakeReceiver::clearReceived()
{
    drain();
    m_received.clear();
}

bool FakeReceiver::waitFor(const std::function<bool()> &pred, int timeoutMs)
{
    return waitUntil(
        [&] {
            drain();
            return pred();
        },
        timeoutMs);
}

} // namespace testsupport
