#pragma once

#include "platform/socketwait.h"
#include "protocol/hostinterface.h"
#include "stream/datagramqueue.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <memory>

class DspAbstract;
class QUdpSocket;
class StreamSequencer;
namespace platform {
class WakeSignal;
}

// Owns the one UDP socket to the receiver: acknowledges, checks and converts stream datagrams,
// sends queued control datagrams and queues the receiver's other datagrams as replies.
class TarnixDevice : public QThread
{
    Q_OBJECT
public:
    explicit TarnixDevice(DspAbstract *dsp, QObject *parent = nullptr);
    ~TarnixDevice() override;

    // Binds the socket to `port` on any address and starts the thread. True once bound.
    bool startReceiving(const QHostAddress &address, quint16 port);
    void stopReceiving();
    void queueControl(const QByteArray &datagram);
    bool takeReply(QByteArray &out);
    void setGain(double dB);
    qint32 gain() const;
    // Notified (from this device's thread) after a batch that queued replies. Set while stopped.
    void setReplyWakeup(platform::WakeSignal *wakeup) { m_replyWakeup = wakeup; }

    // Neither queue grows past this; a datagram that finds its queue full is dropped.
    static constexpr int kMaxQueuedDatagrams = 1024;
    // Room in the kernel for about a thousand stream datagrams should the thread be held up.
    static constexpr int kReadBufferBytes = 1247232;
    // Between passes the thread waits for a datagram or a queued control datagram; this bound only
    // keeps it looking at its running flag should a wake-up ever go missing.
    static constexpr int kMaxWaitMs = 100;
    static constexpr unsigned long kStartPollMs = 5;

protected:
    void run() override;

private:
    void waitStarted();
    void endOfRun();
    void sendOutgoing(QUdpSocket &socket);
    bool takeOutgoing(QByteArray &out);
    // Returns the number of reads (failed ones too) and whether a reply was queued.
    int receiveBatch(QUdpSocket &socket, QByteArray &buffer, bool *queuedReplies);

    std::atomic<bool> m_running{false};
    // Written by startReceiving only while the thread is not running; the thread start orders them.
    quint16 m_port;
    QHostAddress m_receiverAddress;

    // Lock order: m_rxMutex before m_runMutex (which guards the expected sequence number) and
    // before the sample FIFO's mutex. m_txMutex and m_rxMutex are never held together.
    QMutex m_runMutex;
    QMutex m_rxMutex;
    QMutex m_txMutex;
    mutable QMutex m_gainMutex;

    DatagramQueue m_replies{kMaxQueuedDatagrams};  // m_rxMutex
    DatagramQueue m_outgoing{kMaxQueuedDatagrams}; // m_txMutex
    qint32 m_gain = 1; // m_gainMutex; kept for the driver, the stream does not scale
    std::unique_ptr<StreamSequencer> m_sequencer; // used under m_rxMutex
    platform::SocketWaker m_waker;                // woken by queueControl and stopReceiving
    platform::WakeSignal *m_replyWakeup = nullptr;
};
