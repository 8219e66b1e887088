#include "stream/tarnixdsp.h"

#include "platform/clock.h"
#include "platform/passtrace.h"
#include "platform/priority.h"
#include "platform/tsanannotate.h"
#include "stream/samplefifo.h"

#include <limits>
#include <vector>

TarnixDsp::TarnixDsp(QObject *parent) : DspAbstract(parent), m_fifo(new SampleFifo(kFifoCapacityPairs)) {}

TarnixDsp::~TarnixDsp()
{
    // Destroying a QThread that still runs aborts the process; an owner that forgot to stop
    // delivery gets it stopped here instead.
    stopOutput();
}

void TarnixDsp::startOutput(quint16 mode, HostCallback callback)
{
    Q_UNUSED(mode);
    m_callback = callback;
    m_fifo->clear();
    m_resting = false;
    m_running = true;
    start(QThread::TimeCriticalPriority);
}

bool TarnixDsp::stopOutput()
{
    m_running = false;
    m_blockWaiting.notify();
    const bool ended = wait();
    // QThread::wait() hands over inside Qt, where ThreadSanitizer cannot see it (see run()).
    platform::tsanAcquire(this);
    return ended;
}

bool TarnixDsp::pushSamples(const IqPair *pairs, void *work, int count, quint8 aux)
{
    Q_UNUSED(work);
    Q_UNUSED(aux);
    const unsigned int fill = m_fifo->push(pairs, count);
    // A thread on its own timer looks soon enough by itself.
    if (fill >= unsigned(kBlockPairs) &&
        (m_resting.load(std::memory_order_relaxed) || fill >= kWakeAnywayPairs))
        m_blockWaiting.notify();
    return false;
}

unsigned int TarnixDsp::queuedPairs() const
{
    return m_fifo->available();
}

void TarnixDsp::run()
{
    // Started time-critical, which Qt cannot give a thread on Linux: raised as the stream thread is,
    // so that it is not the one starved when the machine is busy and the FIFO fills.
    platform::raiseCurrentThreadPriority();
    // One buffer per run, reused for every block: the host may only read it during the call.
    std::vector<IqPair> block(kBlockPairs, IqPair{0, 0});
    platform::passtrace::Passes passes(platform::passtrace::Delivery);
    bool onTimer = false;
    std::int64_t lastNotifiedNs = std::numeric_limits<std::int64_t>::min() / 2;
    while (m_running) {
        // Every whole block waiting goes out in this pass, oldest first: however late this thread
        // woke, it catches up instead of leaving the FIFO to fill. A stop ends the pass early.
        bool delivered = false;
        while (m_running && m_fifo->pop(block.data(), kBlockPairs)) {
            delivered = true;
            if (const HostCallback callback = m_callback)
                callback(kBlockPairs, 0, 0.0f, block.data());
        }
        onTimer = onTimer && delivered;
        int boundMs = kWakeGapMs;
        if (!onTimer) {
            m_resting.store(true, std::memory_order_relaxed);
            // A block completed since the pass's last look would announce itself to no one.
            if (m_fifo->available() >= unsigned(kBlockPairs)) {
                m_resting.store(false, std::memory_order_relaxed);
                continue;
            }
            boundMs = kMaxWaitMs;
        }
        passes.waitBegins(boundMs);
        std::int64_t notifiedUs = -1;
        const bool notified = m_blockWaiting.wait(boundMs, &notifiedUs);
        m_resting.store(false, std::memory_order_relaxed);
        passes.waitEnded(notifiedUs);
        if (notified && !onTimer) {
            const std::int64_t now = platform::monotonicNs();
            onTimer = now - lastNotifiedNs < std::int64_t(kWakeGapMs) * 1000000;
            lastNotifiedNs = now;
        }
    }
    platform::tsanRelease(this);
}
