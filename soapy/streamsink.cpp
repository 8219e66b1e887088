#include "soapy/streamsink.h"

#include <algorithm>

StreamSink::StreamSink(QObject *parent) : DspAbstract(parent) {}

void StreamSink::startOutput(quint16 mode, HostCallback callback)
{
    Q_UNUSED(mode);
    Q_UNUSED(callback);
    std::lock_guard<std::mutex> lock(m_mutex);
    beginLocked(true);
}

bool StreamSink::stopOutput()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    beginLocked(false);
    return true;
}

void StreamSink::beginLocked(bool accepting)
{
    m_accepting = accepting;
    m_fifo.clear();
    m_written = 0;
    m_read = 0;
    m_losses.clear();
}

bool StreamSink::pushSamples(const IqPair *pairs, void *work, int count, quint8 aux)
{
    Q_UNUSED(work);
    Q_UNUSED(aux);
    if (count <= 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting)
            return false;
        // The FIFO would overwrite unread pairs; drop the newest instead, so what the client reads
        // is whole up to the loss. It holds at most capacity - 1 pairs.
        if (m_fifo.available() + unsigned(count) >= unsigned(m_fifo.capacity())) {
            ++m_overruns;
            markLossLocked();
            return false;
        }
        const unsigned int level = m_fifo.push(pairs, count);
        m_written += quint64(count);
        if (level < m_wakeAt)
            return false;
    }
    m_arrived.notify_one();
    return false;
}

void StreamSink::streamGap()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting)
            return;
        ++m_streamGaps;
        markLossLocked();
    }
    m_arrived.notify_one();
}

void StreamSink::markLossLocked()
{
    // Several losses with nothing in between are one loss to the reader.
    if (m_losses.empty() || m_losses.back() != m_written)
        m_losses.push_back(m_written);
}

StreamSink::Read StreamSink::read(IqPair *out, size_t maxPairs, std::chrono::microseconds timeout,
                                  size_t *got)
{
    *got = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto lossHere = [this] { return !m_losses.empty() && m_losses.front() == m_read; };
    m_wakeAt = std::max<size_t>(1, std::min(maxPairs, kWakePairs));
    // A pending loss ends the wait too: the pairs before it go out at once, then the loss.
    m_arrived.wait_for(lock, timeout, [&] { return !m_losses.empty() || m_fifo.available() >= m_wakeAt; });
    m_wakeAt = 1;
    if (!lossHere() && m_fifo.available() == 0)
        return Read::Timeout;
    if (lossHere()) {
        m_losses.pop_front();
        return Read::Loss;
    }
    quint64 n = std::min<quint64>(m_fifo.available(), maxPairs);
    if (!m_losses.empty())
        n = std::min(n, m_losses.front() - m_read);
    m_fifo.pop(out, unsigned(n));
    m_read += n;
    *got = size_t(n);
    return Read::Data;
}

quint64 StreamSink::overruns() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_overruns;
}

quint64 StreamSink::streamGaps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_streamGaps;
}
