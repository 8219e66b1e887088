#include "soapy/streamsink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

StreamSink::StreamSink(QObject *parent) : DspAbstract(parent), m_ring(new IqPair[kCapacityPairs]) {}

StreamSink::~StreamSink() = default;

void StreamSink::setOpen(bool open)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = open;
    changedLocked(!open);
}

void StreamSink::setExpecting(bool expecting)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expecting = expecting;
    m_lastArrival = Clock::now();
    m_silenceReports = 0;
    changedLocked(!expecting);
}

void StreamSink::setSampleRate(double samplesPerSecond)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rate = samplesPerSecond > 0 ? samplesPerSecond : 1.0;
}

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
    m_streamRate = m_rate;
    m_writeIndex = m_readIndex = m_fill = 0;
    m_written = m_read = m_timeWritten = m_timeRead = 0;
    m_losses.clear();
    m_lastArrival = Clock::now();
    m_silenceReports = 0;
    changedLocked(!accepting);
}

void StreamSink::changedLocked(bool stopped)
{
    if (stopped)
        ++m_stops;
    m_changed.notify_all();
}

bool StreamSink::pushSamples(const IqPair *pairs, void *work, int count, quint8 aux)
{
    Q_UNUSED(work);
    Q_UNUSED(aux);
    if (count <= 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting)
        return false;
    m_lastArrival = Clock::now();
    m_silenceReports = 0;
    // Drop the newest pairs rather than overwrite unread ones, so what the client reads is whole
    // up to the loss.
    if (m_fill + size_t(count) > kCapacityPairs) {
        markLossLocked(quint64(count));
        return false;
    }
    size_t left = size_t(count);
    const IqPair *from = pairs;
    while (left > 0) {
        const size_t run = std::min(left, kCapacityPairs - m_writeIndex);
        std::memcpy(m_ring.get() + m_writeIndex, from, sizeof(IqPair) * run);
        from += run;
        left -= run;
        m_writeIndex = (m_writeIndex + run) % kCapacityPairs;
    }
    m_fill += size_t(count);
    m_written += quint64(count);
    m_timeWritten += quint64(count);
    if (m_fill >= m_wakeAt)
        m_changed.notify_all();
    return false;
}

void StreamSink::streamGap(quint64 lostPairs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting)
        return;
    markLossLocked(lostPairs);
    m_changed.notify_all();
}

void StreamSink::markLossLocked(quint64 lostPairs)
{
    m_timeWritten += lostPairs;
    // Several losses with nothing in between are one loss to the reader.
    if (!m_losses.empty() && m_losses.back().at == m_written)
        m_losses.back().resumeAt = m_timeWritten;
    else
        m_losses.push_back({m_written, m_timeWritten});
}

long long StreamSink::nanosecondsLocked(quint64 index) const
{
    return std::llround(double(index) * 1e9 / m_streamRate);
}

StreamSink::Clock::time_point StreamSink::silenceReportDueLocked() const
{
    return m_lastArrival + kSilentAfter + m_silenceReports * kSilentRepeat;
}

size_t StreamSink::copyOutLocked(void *to, size_t n, Convert convert)
{
    size_t done = 0;
    while (done < n) {
        const size_t run = std::min(n - done, kCapacityPairs - m_readIndex);
        convert(m_ring.get() + m_readIndex, run, to, done);
        done += run;
        m_readIndex = (m_readIndex + run) % kCapacityPairs;
    }
    m_fill -= n;
    m_read += n;
    m_timeRead += n;
    return n;
}

StreamSink::Result StreamSink::read(void *to, size_t maxPairs, Convert convert,
                                    std::chrono::microseconds timeout)
{
    Result result;
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 stops = m_stops;
    const auto deadline = Clock::now() + std::min(timeout, std::chrono::microseconds(std::chrono::hours(24)));
    const size_t wakeAt = std::max<size_t>(1, std::min(maxPairs, kWakePairs));
    auto holdUntil = Clock::time_point::max();
    for (;;) {
        if (!m_open) {
            result.what = Read::Closed;
            return result;
        }
        if (!m_losses.empty() && m_losses.front().at == m_read) {
            m_timeRead = m_losses.front().resumeAt;
            m_losses.pop_front();
            ++m_overflows;
            result.what = Read::Loss;
            result.timeNs = nanosecondsLocked(m_timeRead);
            return result;
        }
        const auto now = Clock::now();
        const bool stopped = stops != m_stops;
        if (m_fill > 0 && holdUntil == Clock::time_point::max())
            holdUntil = now + kMaxHold;
        // A pending loss, a stop or the end of the wait sends out what is there at once.
        if (m_fill >= wakeAt ||
            (m_fill > 0 && (stopped || !m_losses.empty() || now >= std::min(deadline, holdUntil)))) {
            quint64 n = std::min<quint64>(m_fill, maxPairs);
            if (!m_losses.empty())
                n = std::min(n, m_losses.front().at - m_read);
            result.what = Read::Data;
            result.timeNs = nanosecondsLocked(m_timeRead);
            result.pairs = copyOutLocked(to, size_t(n), convert);
            return result;
        }
        if (stopped) {
            result.what = Read::Stopped;
            return result;
        }
        const auto silenceDue = silenceReportDueLocked();
        if (m_expecting && now >= silenceDue) {
            ++m_silenceReports;
            result.what = Read::Silent;
            result.silentFor = now - m_lastArrival;
            return result;
        }
        if (now >= deadline) {
            result.what = Read::Timeout;
            return result;
        }
        m_wakeAt = wakeAt;
        m_changed.wait_until(lock, std::min({deadline, holdUntil, m_expecting ? silenceDue : deadline}));
        m_wakeAt = 1;
    }
}

quint64 StreamSink::overflows() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_overflows;
}
