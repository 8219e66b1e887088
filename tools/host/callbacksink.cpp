#include "tools/host/callbacksink.h"

#include <QThread>

namespace {
std::atomic<CallbackSink *> g_sink{nullptr};
}

CallbackSink::CallbackSink(BlockRing *ring) : m_ring(ring), m_start(std::chrono::steady_clock::now())
{
    g_sink.store(this, std::memory_order_release);
}

CallbackSink::~CallbackSink()
{
    CallbackSink *self = this;
    g_sink.compare_exchange_strong(self, nullptr);
}

void EXTIO_CALLBACK CallbackSink::callback(int count, int status, float, void *data)
{
    if (CallbackSink *sink = g_sink.load(std::memory_order_acquire))
        sink->onCall(count, status, data);
}

qint64 CallbackSink::nowNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - m_start)
        .count();
}

void CallbackSink::onCall(int count, int status, const void *data)
{
    const quintptr thread = reinterpret_cast<quintptr>(QThread::currentThreadId());
    quintptr expected = 0;
    if (!m_thread.compare_exchange_strong(expected, thread, std::memory_order_relaxed) && expected != thread)
        m_severalThreads.store(true, std::memory_order_relaxed);
    m_lastStatus.store(status, std::memory_order_relaxed);

    // ExtIO hosts read a negative count as a status notification without data.
    if (count < 0) {
        m_statusCalls.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (count != kBlockPairs || !data)
        m_irregularCalls.fetch_add(1, std::memory_order_relaxed);
    if (!data || count == 0)
        return;
    // Never read more than one block: a larger count would run past what the host can hold.
    const int taken = count > kBlockPairs ? kBlockPairs : count;
    m_ring->push(static_cast<const IqPair *>(data), taken);

    const qint64 now = nowNs();
    qint64 unset = -1;
    m_firstBlockNs.compare_exchange_strong(unset, now, std::memory_order_relaxed);
    m_lastBlockNs.store(now, std::memory_order_relaxed);
    m_pairs.fetch_add(quint64(taken), std::memory_order_relaxed);
    m_dataCalls.fetch_add(1, std::memory_order_release);
}

CallbackStats CallbackSink::stats() const
{
    CallbackStats s;
    s.dataCalls = m_dataCalls.load(std::memory_order_acquire);
    s.statusCalls = m_statusCalls.load(std::memory_order_relaxed);
    s.irregularCalls = m_irregularCalls.load(std::memory_order_relaxed);
    s.pairs = m_pairs.load(std::memory_order_relaxed);
    s.firstBlockNs = m_firstBlockNs.load(std::memory_order_relaxed);
    s.lastBlockNs = m_lastBlockNs.load(std::memory_order_relaxed);
    s.callbackThread = m_thread.load(std::memory_order_relaxed);
    s.severalCallbackThreads = m_severalThreads.load(std::memory_order_relaxed);
    s.lastStatus = m_lastStatus.load(std::memory_order_relaxed);
    return s;
}
