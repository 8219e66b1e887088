#include "soapy/streamsink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

StreamSink::StreamSink(QObject *parent)
    : DspAbstract(parent), m_ring(new IqPair[kCapacityPairs]), m_resampledOut(new IqPair[kMaxResampledPairs])
{}

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

void StreamSink::setSampleRate(double samplesPerSecond, bool resampled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rate = samplesPerSecond > 0 ? samplesPerSecond : 1.0;
    m_resample = resampled;
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
    m_resampled = m_resample;
    m_writeIndex = m_readIndex = m_fill = 0;
    m_written = m_read = m_timeWritten = m_timeRead = 0;
    restartFilterLocked();
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

quint64 StreamSink::outputsLocked(quint64 pairs) const
{
    if (!m_resampled)
        return pairs;
    return Resampler::outputsFor(m_filtered + pairs) - Resampler::outputsFor(m_filtered);
}

quint64 StreamSink::pairsForLocked(quint64 outputs) const
{
    if (!m_resampled)
        return outputs;
    return Resampler::inputsFor(Resampler::outputsFor(m_filtered) + outputs) - m_filtered;
}

quint64 StreamSink::outputIndexLocked() const
{
    return m_resampled ? m_outputBase + Resampler::outputsFor(m_filtered) : m_timeRead;
}

void StreamSink::restartFilterLocked()
{
    m_resampler.reset();
    m_filtered = 0;
    // The first output after a restart at receiver pair n is output ceil(4n/5) of the timeline.
    m_outputBase = Resampler::outputsFor(m_timeRead);
}

size_t StreamSink::copyOutLocked(void *to, size_t outputs, quint64 pairs, Convert convert)
{
    size_t done = 0, made = 0;
    for (size_t at = m_readIndex; done < pairs; at = 0) {
        const size_t run = std::min(size_t(pairs) - done, kCapacityPairs - at);
        if (m_resampled)
            made += m_resampler.process(m_ring.get() + at, run, m_resampledOut.get() + made);
        else
            convert(m_ring.get() + at, run, to, done);
        done += run;
    }
    if (m_resampled)
        convert(m_resampledOut.get(), made, to, 0);
    Q_ASSERT(made == (m_resampled ? outputs : 0));
    dropLocked(pairs);
    return outputs;
}

void StreamSink::dropLocked(quint64 pairs)
{
    m_readIndex = (m_readIndex + size_t(pairs)) % kCapacityPairs;
    m_fill -= size_t(pairs);
    m_read += pairs;
    m_timeRead += pairs;
    m_filtered += pairs;
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
            if (m_resampled)
                restartFilterLocked();
            result.what = Read::Loss;
            result.timeNs = nanosecondsLocked(outputIndexLocked());
            return result;
        }
        const auto now = Clock::now();
        const bool stopped = stops != m_stops;
        // What the reader can have now: the pairs up to the next loss, in its own rate.
        const quint64 pairs = m_losses.empty() ? m_fill : m_losses.front().at - m_read;
        const quint64 ready = outputsLocked(pairs);
        if (ready == 0 && pairs > 0 && !m_losses.empty()) {
            // The last pairs before a loss complete no output; the filter restarts after it anyway.
            dropLocked(pairs);
            continue;
        }
        if (ready > 0 && holdUntil == Clock::time_point::max())
            holdUntil = now + kMaxHold;
        // A pending loss, a stop or the end of the wait sends out what is there at once.
        if (ready >= wakeAt ||
            (ready > 0 && (stopped || !m_losses.empty() || now >= std::min(deadline, holdUntil)))) {
            const quint64 n =
                std::min<quint64>(ready, m_resampled ? std::min(maxPairs, kMaxResampledPairs) : maxPairs);
            result.what = Read::Data;
            result.timeNs = nanosecondsLocked(outputIndexLocked());
            // All the pairs up to a loss go when their outputs fit, so none is left before it.
            result.pairs = copyOutLocked(to, size_t(n), n == ready ? pairs : pairsForLocked(n), convert);
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
        // A push wakes the reader once the ring holds what gives it wakeAt pairs.
        m_wakeAt = size_t(pairsForLocked(wakeAt - 1) + 1);
        m_changed.wait_until(lock, std::min({deadline, holdUntil, m_expecting ? silenceDue : deadline}));
        m_wakeAt = 1;
    }
}

quint64 StreamSink::overflows() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_overflows;
}
