#include "stream/tarnixdevice.h"

#include "platform/clock.h"
#include "platform/datagramio.h"
#include "platform/mutexlocker.h"
#include "platform/passtrace.h"
#include "platform/priority.h"
#include "platform/testseam.h"
#include "platform/timerresolution.h"
#include "platform/tsanannotate.h"
#include "platform/wakesignal.h"
#include "protocol/stream.h"
#include "stream/streamsequencer.h"

#include <QUdpSocket>

#include <cmath>
#include <limits>

TarnixDevice::TarnixDevice(DspAbstract *dsp, QObject *parent)
    : QThread(parent), m_port(wire::kDefaultPort), m_sequencer(new StreamSequencer(dsp, &m_runMutex))
{}

TarnixDevice::~TarnixDevice()
{
    // Destroying a QThread that still runs aborts the process; an owner that forgot to stop the
    // device gets it stopped here instead.
    stopReceiving();
}

bool TarnixDevice::startReceiving(const QHostAddress &address, quint16 port)
{
    if (m_running || isRunning())
        return false;
    m_receiverAddress = address;
    bool isIPv4 = false;
    m_receiverIPv4 = address.toIPv4Address(&isIPv4);
    m_receiverIsIPv4 = isIPv4;
    m_port = port;
    // A new connection takes the stream up from sequence 0; the history is kept.
    m_sequencer->reset();
    start(QThread::TimeCriticalPriority);
    waitStarted();
    return m_running;
}

void TarnixDevice::waitStarted()
{
    // Ends when the thread has bound its socket, or when it has ended because binding failed.
    while (isRunning()) {
        platform::lockMutex(&m_runMutex);
        const bool started = m_running;
        platform::unlockMutex(&m_runMutex);
        if (started)
            return;
        platform::sleepMs(kStartPollMs);
    }
    platform::tsanAcquire(this); // the thread has ended: see endOfRun()
}

void TarnixDevice::stopReceiving()
{
    m_running = false;
    m_waker.wake();
    if (isRunning())
        wait();
    platform::tsanAcquire(this); // see endOfRun()
}

bool TarnixDevice::queueControl(const QByteArray &datagram, quint64 tag)
{
    bool queued;
    {
        platform::MutexLocker tx(&m_txMutex);
        queued = m_outgoing.append({datagram, tag});
        if (queued) {
            platform::passtrace::controlQueued();
            m_outgoingWaiting.store(true, std::memory_order_relaxed);
        }
    }
    m_waker.wake();
    return queued;
}

bool TarnixDevice::takeSent(quint64 *tag, qint64 *sentNs)
{
    SentNote note;
    {
        platform::MutexLocker tx(&m_txMutex);
        if (!m_sent.takeFirst(note))
            return false;
    }
    *tag = note.tag;
    *sentNs = note.sentNs;
    return true;
}

void TarnixDevice::requestRead()
{
    m_readWanted = true;
    m_waker.wake();
}

bool TarnixDevice::takeReply(QByteArray &out)
{
    platform::MutexLocker rx(&m_rxMutex);
    return m_replies.takeFirst(out);
}

void TarnixDevice::setGain(double dB)
{
    constexpr double kFullScale = 2147483647.0;
    const double linear = std::pow(10.0, dB / 20.0) * kFullScale;
    if (std::isnan(linear))
        return;
    // Above 0 dB the product no longer fits in 32 bits: saturate instead of overflowing.
    const qint32 value = linear >= kFullScale ? std::numeric_limits<qint32>::max() : qint32(linear);
    platform::MutexLocker lock(&m_gainMutex);
    m_gain = value;
}

qint32 TarnixDevice::gain() const
{
    platform::MutexLocker lock(&m_gainMutex);
    return m_gain;
}

void TarnixDevice::run()
{
    platform::raiseProcessPriority();
    platform::raiseCurrentThreadPriority();
    // Held while the socket is ours: waits and sleeps of every thread then last what they say.
    const platform::FineTimerResolution fineTimer;

    QUdpSocket socket;
    // IPv4 any address, so sender addresses read back as plain IPv4 ones. ShareAddress is Qt's
    // default on Windows; on Unix it adds SO_REUSEADDR (Qt's default there does not), which lets a
    // stand-in receiver on another loopback address share the port.
    if (!socket.bind(QHostAddress(QHostAddress::AnyIPv4), m_port, QAbstractSocket::ShareAddress)) {
        endOfRun();
        return;
    }
    // QUdpSocket keeps no buffer of its own; the kernel's receive buffer is what absorbs a stall.
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReadBufferBytes);
    // Qt binds the socket and closes it; every read and write goes through the descriptor.
    const qintptr descriptor = socket.socketDescriptor();
    m_waker.watch(descriptor);

    {
        platform::MutexLocker lock(&m_runMutex);
        m_running = true;
    }

    // Buffers for the thread's life, each as large as any datagram, so none is ever cut short.
    ReadBatch batch;
    bool readable = false;
    int idleWakes = 0;
    platform::passtrace::Passes passes(platform::passtrace::Stream);
    do {
        sendOutgoing(descriptor);
        const int read = receiveBatch(descriptor, batch);
        // Sends and replies wake the driver as they happen; a pass it asked for, once it is done.
        if (m_readWanted.exchange(false) && m_replyWakeup)
            m_replyWakeup->notify();
        // A socket that keeps reporting itself readable but yields nothing must not make this spin.
        // Once is no spin: on Windows a read that left a datagram behind announces it again even
        // when the same batch then read it.
        idleWakes = readable && read == 0 ? idleWakes + 1 : 0;
        if (idleWakes > 1)
            platform::sleepMs(1);
        // Returns as soon as a datagram arrives, so it is acknowledged whatever the timer's resolution.
        passes.waitBegins(kMaxWaitMs);
        readable = platform::waitReadable(descriptor, m_waker, kMaxWaitMs) == platform::WaitResult::Readable;
        passes.waitEnded(m_waker.takeWokenUs());
    } while (m_running);
    socket.close();
    endOfRun();
}

void TarnixDevice::endOfRun()
{
    // QThread::wait() hands over inside Qt, where ThreadSanitizer cannot see it; announce that
    // everything this thread did comes before the return of a wait for it.
    platform::tsanRelease(this);
}

void TarnixDevice::sendOutgoing(qintptr socket)
{
    Outgoing item;
    // One at a time, the lock not held while sending: the driver can queue more meanwhile.
    while (takeOutgoing(item)) {
        platform::passSeam(platform::SeamPoint::StreamBeforeSend, &item.datagram);
        const uchar *bytes = wire::bytes(qAsConst(item.datagram));
        if (m_receiverIsIPv4)
            platform::sendDatagram(socket, bytes, item.datagram.size(), m_receiverIPv4, m_port);
        platform::passtrace::controlSent(bytes, item.datagram.size());
        if (item.tag == kNoTag)
            continue;
        // Taken once the datagram has left: the reply timeout runs from here. A failed send counts
        // as sent, like a datagram lost on the way.
        const qint64 sentNs = platform::monotonicNs();
        {
            platform::MutexLocker tx(&m_txMutex);
            m_sent.append({item.tag, sentNs});
        }
        // At once, in the middle of a batch too: the driver learns when the timeout began.
        if (m_replyWakeup)
            m_replyWakeup->notify();
    }
}

bool TarnixDevice::takeOutgoing(Outgoing &out)
{
    platform::MutexLocker tx(&m_txMutex);
    const bool taken = m_outgoing.takeFirst(out);
    if (!taken)
        m_outgoingWaiting.store(false, std::memory_order_relaxed);
    return taken;
}

int TarnixDevice::receiveBatch(qintptr socket, ReadBatch &batch)
{
    int read = 0;
    for (;;) {
        // A command queued meanwhile goes out between two stream datagrams: a batch lasts as long as
        // datagrams keep coming, and a command held back past its reply timeout would be sent twice.
        if (m_outgoingWaiting.load(std::memory_order_relaxed))
            sendOutgoing(socket);
        // Whatever reached the socket before this moment has been read once a look finds it empty.
        const qint64 lookedAt = platform::monotonicNs();
        const int got = platform::receiveDatagrams(socket, batch.datagrams.data(), kReadBatch);
        if (got == 0) {
            m_readUpToNs.store(lookedAt, std::memory_order_release);
            break;
        }
        read += got; // a failed one too: it took the socket's error away
        // The acknowledgements of a batch leave together, once its datagrams are handled: a few
        // microseconds later than one by one, and one system call instead of one each.
        int acks = 0;
        bool failed = false;
        for (int k = 0; k < got; ++k) {
            platform::DatagramSlot &slot = batch.datagrams[size_t(k)];
            // A failed read would otherwise be retried for ever; no claim about the socket.
            if (slot.size < 0) {
                failed = true;
                break;
            }
            // Only the address counts: the receiver may answer from another port.
            if (!m_receiverIsIPv4 || slot.senderIPv4 != m_receiverIPv4)
                continue;
            if (slot.size < wire::kMinDatagramBytes)
                continue; // too short to carry a code
            const quint16 code = wire::readU16(slot.data + wire::kCodeOffset);
            if (code == wire::kCodeStream) {
                const auto verdict = m_sequencer->handle(slot.data, slot.size);
                if (StreamSequencer::acknowledges(verdict)) {
                    batch.acks[size_t(acks)] = slot.data;
                    batch.ackSizes[size_t(acks)] = wire::kAckBytes;
                    ++acks;
                }
            } else {
                queueReply(slot.data, slot.size);
            }
        }
        if (acks > 0)
            platform::sendDatagrams(socket, batch.acks.data(), batch.ackSizes.data(), acks, m_receiverIPv4,
                                    m_port);
        if (failed)
            break;
    }
    return read;
}

TarnixDevice::ReadBatch::ReadBatch()
    // Not zeroed: only the pages that datagrams land in are ever touched.
    : storage(new uchar[size_t(kReadBatch) * platform::kMaxDatagramBytes])
{
    for (int k = 0; k < kReadBatch; ++k) {
        datagrams[size_t(k)].data = storage.get() + size_t(k) * platform::kMaxDatagramBytes;
        datagrams[size_t(k)].capacity = platform::kMaxDatagramBytes;
    }
}

void TarnixDevice::queueReply(const uchar *datagram, int size)
{
    bool queued;
    {
        platform::MutexLocker rx(&m_rxMutex);
        queued = m_replies.append(QByteArray(reinterpret_cast<const char *>(datagram), size));
    }
    // At once, not after the batch: the driver retires the request before its timeout comes due.
    if (queued && m_replyWakeup)
        m_replyWakeup->notify();
}
