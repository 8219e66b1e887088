#pragma once

#include "platform/datagramio.h"
#include "platform/socketwait.h"
#include "protocol/hostinterface.h"
#include "stream/datagramqueue.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QThread>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class DspAbstract;
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
    // Queues a control datagram for sending; false when the queue is full and it was dropped. With a
    // tag other than kNoTag, the moment it left the socket can be taken with takeSent.
    bool queueControl(const QByteArray &datagram, quint64 tag = kNoTag);
    bool takeSent(quint64 *tag, qint64 *sentNs);
    bool takeReply(QByteArray &out);
    // Every datagram that reached the socket before this moment (platform::monotonicNs) has been
    // read, and the replies among them queued. Taken just before a look at the socket found it empty.
    qint64 readUpToNs() const { return m_readUpToNs.load(std::memory_order_acquire); }
    // Asks the thread for one more pass over the socket, and for the reply wake-up once it is done.
    void requestRead();
    void setGain(double dB);
    qint32 gain() const;
    // Notified (from this device's thread) as each reply is queued and each tagged datagram has
    // left, and after a pass that requestRead asked for. Set while stopped.
    void setReplyWakeup(platform::WakeSignal *wakeup) { m_replyWakeup = wakeup; }

    static constexpr quint64 kNoTag = ~quint64(0);
    // No queue grows past this; a datagram that finds its queue full is dropped.
    static constexpr int kMaxQueuedDatagrams = 1024;
    // Room in the kernel for about a thousand stream datagrams should the thread be held up.
    static constexpr int kReadBufferBytes = 1247232;
    // Between passes the thread waits for a datagram or a queued control datagram (or the stop).
    // The bound is a last guard: on Windows a wait that runs out ties the socket to its readiness
    // event again (see SocketWaker), so it stays short enough for that to cost little.
    static constexpr int kMaxWaitMs = 250;
    static constexpr unsigned long kStartPollMs = 5;

protected:
    void run() override;

private:
    void waitStarted();
    void endOfRun();
    struct Outgoing
    {
        QByteArray datagram;
        quint64 tag;
    };
    struct SentNote
    {
        quint64 tag;
        qint64 sentNs;
    };
    void sendOutgoing(qintptr socket);
    bool takeOutgoing(Outgoing &out);
    // Datagrams taken in one read: twice a receiver's window. After a stall the socket holds more;
    // they come in batches of this many, each batch acknowledged as soon as it is handled.
    static constexpr int kReadBatch = 16;
    struct ReadBatch
    {
        ReadBatch();
        std::unique_ptr<uchar[]> storage;
        std::array<platform::DatagramSlot, kReadBatch> datagrams;
        std::array<const uchar *, kReadBatch> acks;
        std::array<int, kReadBatch> ackSizes;
    };
    // Reads until nothing is left; returns the number of datagrams read (failed reads too).
    int receiveBatch(qintptr socket, ReadBatch &batch);
    void queueReply(const uchar *datagram, int size);

    std::atomic<bool> m_running{false};
    // Written by startReceiving only while the thread is not running; the thread start orders them.
    quint16 m_port;
    QHostAddress m_receiverAddress;
    quint32 m_receiverIPv4 = 0; // host byte order; the socket is an IPv4 one
    bool m_receiverIsIPv4 = false;

    // Each guards its own data and is held only briefly, never two at once: m_runMutex the expected
    // sequence number (the sequencer takes it, with the sample FIFO's mutex after it, never inside
    // it), m_rxMutex the reply queue, m_txMutex the outgoing queue. A receive batch holds none: the
    // driver takes each reply as soon as it is queued.
    QMutex m_runMutex;
    QMutex m_rxMutex;
    QMutex m_txMutex;
    mutable QMutex m_gainMutex;

    DatagramQueue m_replies{kMaxQueuedDatagrams};           // m_rxMutex
    BoundedQueue<Outgoing> m_outgoing{kMaxQueuedDatagrams}; // m_txMutex
    BoundedQueue<SentNote> m_sent{kMaxQueuedDatagrams};     // m_txMutex
    std::atomic<bool> m_outgoingWaiting{false};             // set when m_outgoing gains a datagram
    std::atomic<qint64> m_readUpToNs{0};
    std::atomic<bool> m_readWanted{false};
    qint32 m_gain = 1; // m_gainMutex; kept for the driver, the stream does not scale
    // Used by the thread while it runs, and reset by startReceiving before it starts.
    std::unique_ptr<StreamSequencer> m_sequencer;
    platform::SocketWaker m_waker; // woken by queueControl and stopReceiving
    platform::WakeSignal *m_replyWakeup = nullptr;
};
