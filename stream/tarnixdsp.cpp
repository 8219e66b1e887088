#include "stream/tarnixdsp.h"

#include "platform/clock.h"
#include "platform/tsanannotate.h"
#include "stream/samplefifo.h"

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
    m_running = true;
    start(QThread::TimeCriticalPriority);
}

bool TarnixDsp::stopOutput()
{
    m_running = false;
    const bool ended = wait();
    // QThread::wait() hands over inside Qt, where ThreadSanitizer cannot see it (see run()).
    platform::tsanAcquire(this);
    return ended;
}

bool TarnixDsp::pushSamples(const IqPair *pairs, void *work, int count, quint8 aux)
{
    Q_UNUSED(work);
    Q_UNUSED(aux);
    m_fifo->push(pairs, count);
    return false;
}

unsigned int TarnixDsp::queuedPairs() const
{
    return m_fifo->available();
}

void TarnixDsp::run()
{
    // One buffer per run, reused for every block: the host may only read it during the call.
    std::vector<IqPair> block(kBlockPairs, IqPair{0, 0});
    while (m_running) {
        if (m_fifo->pop(block.data(), kBlockPairs)) {
            if (const HostCallback callback = m_callback)
                callback(kBlockPairs, 0, 0.0f, block.data());
        }
        platform::sleepMs(kPassSleepMs);
    }
    platform::tsanRelease(this);
}
