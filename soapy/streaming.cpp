// The RX stream: set up, activate, read, deactivate, close, and the receiver's start and stop
// behind them.
#include "soapy/arguments.h"
#include "soapy/tarnixsoapydevice.h"

#include "control/tarnixcontrol.h"

#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>

#include <QThread>

#include <algorithm>
#include <cstring>

using namespace soapyargs;

namespace {

constexpr quint16 kStartMode = 1; // what the plug-in sends
// The plug-in waits this long after the start before tuning; a receiver may rely on it.
constexpr unsigned long kSettleMs = 50;
constexpr double kFullScale = 2147483648.0; // 2^31: the 24-bit samples arrive multiplied by 256

void toCs32(const IqPair *from, size_t n, void *to, size_t at)
{
    std::memcpy(static_cast<IqPair *>(to) + at, from, n * sizeof(IqPair));
}

void toCf32(const IqPair *from, size_t n, void *to, size_t at)
{
    constexpr float kScale = float(1.0 / kFullScale);
    float *out = static_cast<float *>(to) + 2 * at;
    for (size_t k = 0; k < n; ++k) {
        out[2 * k] = float(from[k].i) * kScale;
        out[2 * k + 1] = float(from[k].q) * kScale;
    }
}

void toCs16(const IqPair *from, size_t n, void *to, size_t at)
{
    qint16 *out = static_cast<qint16 *>(to) + 2 * at;
    for (size_t k = 0; k < n; ++k) {
        out[2 * k] = qint16(from[k].i >> 16);
        out[2 * k + 1] = qint16(from[k].q >> 16);
    }
}

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

std::vector<std::string> TarnixSoapyDevice::getStreamFormats(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return {SOAPY_SDR_CS32, SOAPY_SDR_CF32, SOAPY_SDR_CS16};
}

std::string TarnixSoapyDevice::getNativeStreamFormat(const int direction, const size_t channel,
                                                     double &fullScale) const
{
    checkChannel(direction, channel);
    fullScale = kFullScale;
    return SOAPY_SDR_CS32;
}

SoapySDR::Stream *TarnixSoapyDevice::setupStream(const int direction, const std::string &format,
                                                 const std::vector<size_t> &channels,
                                                 const SoapySDR::Kwargs &args)
{
    Q_UNUSED(args);
    checkChannel(direction, 0);
    if (channels.size() > 1 || (channels.size() == 1 && channels[0] != 0))
        fail("the receiver has one RX channel (0)");
    auto stream = std::make_unique<RxStream>();
    if (format == SOAPY_SDR_CS32)
        stream->format = RxStream::Format::CS32;
    else if (format == SOAPY_SDR_CF32)
        stream->format = RxStream::Format::CF32;
    else if (format == SOAPY_SDR_CS16)
        stream->format = RxStream::Format::CS16;
    else
        fail("stream format " + format + " not offered (CS32, CF32, CS16)");
    std::lock_guard<std::mutex> lock(m_streamLock);
    if (m_stream)
        fail("a stream is already set up");
    m_stream = std::move(stream);
    m_sink.setOpen(true);
    return reinterpret_cast<SoapySDR::Stream *>(m_stream.get());
}

void TarnixSoapyDevice::closeStream(SoapySDR::Stream *stream)
{
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        if (!stream || reinterpret_cast<RxStream *>(stream) != m_stream.get())
            fail("not a stream of this device");
    }
    // Readers waiting now return at once; ones that come later find no stream. No reader keeps a
    // hold on the stream object past the handle check, so it may go.
    m_sink.setOpen(false);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_active) {
            m_active = false;
            m_sink.setExpecting(false);
            stopLocked();
        }
    }
    std::lock_guard<std::mutex> lock(m_streamLock);
    m_stream.reset();
}

size_t TarnixSoapyDevice::getStreamMTU(SoapySDR::Stream *stream) const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    if (!stream || reinterpret_cast<RxStream *>(stream) != m_stream.get())
        fail("not a stream of this device");
    return kStreamMtuPairs;
}

int TarnixSoapyDevice::activateStream(SoapySDR::Stream *stream, const int flags, const long long timeNs,
                                      const size_t numElems)
{
    Q_UNUSED(timeNs);
    Q_UNUSED(numElems);
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        if (!stream || reinterpret_cast<RxStream *>(stream) != m_stream.get())
            return SOAPY_SDR_STREAM_ERROR;
    }
    if (flags != 0)
        return SOAPY_SDR_NOT_SUPPORTED; // no timed starts or bursts
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_active)
        return 0;
    m_silent = false;
    m_sink.setExpecting(true);
    std::string why;
    if (!startLocked(&why)) {
        m_sink.setExpecting(false);
        SoapySDR::logf(SOAPY_SDR_ERROR, "tarnixddc: %s did not start streaming: %s", name().c_str(),
                       why.c_str());
        return SOAPY_SDR_STREAM_ERROR;
    }
    m_active = true;
    return 0;
}

int TarnixSoapyDevice::deactivateStream(SoapySDR::Stream *stream, const int flags, const long long timeNs)
{
    Q_UNUSED(timeNs);
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        if (!stream || reinterpret_cast<RxStream *>(stream) != m_stream.get())
            return SOAPY_SDR_STREAM_ERROR;
    }
    if (flags != 0)
        return SOAPY_SDR_NOT_SUPPORTED;
    // Readers waiting now return at once, before the stop's round trips.
    m_sink.setExpecting(false);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_active) {
        m_active = false;
        m_sink.setExpecting(false);
        stopLocked();
    }
    return 0;
}

bool TarnixSoapyDevice::startLocked(std::string *why)
{
    if (!m_connected) {
        m_connected = control().open(m_receiver, nullptr);
        if (!m_connected) {
            *why = "cannot open local port " + std::to_string(m_receiver.port) + " (in use?)";
            return false;
        }
    }
    const OfferedRate &rate = rateLocked();
    m_sink.setSampleRate(rate.samplesPerSecond, rate.resampled);
    if (!control().start(kStartMode, rate.receiverRateIndex)) {
        stopLocked();
        *why = "it did not answer the start command";
        return false;
    }
    m_running = true;
    QThread::msleep(kSettleMs);
    tuneLocked();
    control().setAttenuator(m_attenuator);
    control().setLpf(m_lpf);
    return true;
}

void TarnixSoapyDevice::stopLocked()
{
    control().stopStream();
    m_running = false;
    // The stream receiver takes a stream up from sequence 0 only on a new connection, and the
    // receiver numbers every stream from 0.
    control().close();
    m_connected = control().open(m_receiver, nullptr);
}

void TarnixSoapyDevice::restartSilentStream(std::chrono::steady_clock::duration silentFor)
{
    if (!m_silent.exchange(true)) {
        SoapySDR::logf(SOAPY_SDR_WARNING, "tarnixddc: %s has sent nothing for %.1f s", name().c_str(),
                       seconds(silentFor));
        return;
    }
    // Reports come 1 s into a silence and every 3 s after; from the second on, the stream is started
    // again. A control call holding the lock goes first; the next report tries again.
    if (silentFor < StreamSink::kSilentAfter + StreamSink::kSilentRepeat)
        return;
    std::unique_lock<std::mutex> lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock() || !m_active)
        return;
    SoapySDR::logf(SOAPY_SDR_WARNING,
                   "tarnixddc: %s still sends nothing after %.1f s; starting its stream again",
                   name().c_str(), seconds(silentFor));
    stopLocked();
    std::string why;
    if (!startLocked(&why))
        SoapySDR::logf(SOAPY_SDR_ERROR, "tarnixddc: %s did not start streaming: %s", name().c_str(),
                       why.c_str());
}

int TarnixSoapyDevice::readStream(SoapySDR::Stream *stream, void *const *buffs, const size_t numElems,
                                  int &flags, long long &timeNs, const long timeoutUs)
{
    StreamSink::Convert convert = toCs32;
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        if (!stream || reinterpret_cast<RxStream *>(stream) != m_stream.get() || !buffs || !buffs[0])
            return SOAPY_SDR_STREAM_ERROR;
        if (m_stream->format == RxStream::Format::CF32)
            convert = toCf32;
        else if (m_stream->format == RxStream::Format::CS16)
            convert = toCs16;
    }
    flags = 0;
    timeNs = 0;
    const size_t room = std::min(numElems, StreamSink::kCapacityPairs);
    const StreamSink::Result r =
        m_sink.read(buffs[0], room, convert, std::chrono::microseconds(std::max(0L, timeoutUs)));
    switch (r.what) {
    case StreamSink::Read::Data:
        if (m_silent.exchange(false))
            SoapySDR::logf(SOAPY_SDR_INFO, "tarnixddc: %s streams again", name().c_str());
        flags = SOAPY_SDR_HAS_TIME;
        timeNs = r.timeNs;
        return int(r.pairs);
    case StreamSink::Read::Loss:
        SoapySDR::log(SOAPY_SDR_SSI, "O");
        flags = SOAPY_SDR_HAS_TIME;
        timeNs = r.timeNs;
        return SOAPY_SDR_OVERFLOW;
    case StreamSink::Read::Silent:
        restartSilentStream(r.silentFor);
        return SOAPY_SDR_STREAM_ERROR;
    case StreamSink::Read::Closed:
        return SOAPY_SDR_STREAM_ERROR;
    case StreamSink::Read::Stopped:
        flags = SOAPY_SDR_END_BURST;
        return 0;
    case StreamSink::Read::Timeout:
        break;
    }
    return SOAPY_SDR_TIMEOUT;
}
