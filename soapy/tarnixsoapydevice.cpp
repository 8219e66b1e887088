#include "soapy/tarnixsoapydevice.h"

#include "control/ratetables.h"
#include "control/tarnixcontrol.h"

#include <SoapySDR/Formats.hpp>

#include <QThread>

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

namespace {

constexpr quint16 kStartMode = 1; // what the plug-in sends
// The plug-in waits this long after the start before tuning; a receiver may rely on it.
constexpr unsigned long kSettleMs = 50;
constexpr double kFullScale = 2147483648.0; // 2^31: the 24-bit samples arrive multiplied by 256
const std::string kAttenuator = "ATT";
const std::string kRf = "RF";
const std::string kLpf = "lpf";

struct Sensor
{
    const char *key;
    quint32 flag;
    const char *description;
};
constexpr Sensor kSensors[] = {
    {"pll_present", ReceiverInfo::PllPresent,
     "The receiver has a PLL (only then do the PLL flags mean anything)"},
    {"pll1_locked", ReceiverInfo::Pll1Lock, "PLL1 lock"},
    {"pll2_locked", ReceiverInfo::Pll2Lock, "PLL2 lock"},
    {"pll2_ref_clock_ok", ReceiverInfo::Pll2RefClockOk, "PLL2 reference clock"},
    {"pll2_fb_clock_ok", ReceiverInfo::Pll2FbClockOk, "PLL2 feedback clock"},
    {"vcxo_ok", ReceiverInfo::VcxoOk, "VCXO status"},
    {"internal_ref_ok", ReceiverInfo::IntRefOk, "Internal reference"},
    {"external_ref_ok", ReceiverInfo::ExtRefOk, "External reference"},
    {"ref_mode_internal", ReceiverInfo::RefModeInternal, "Reference mode internal (false: external)"},
};

const Sensor &sensorFor(const std::string &key)
{
    for (const Sensor &s : kSensors) {
        if (key == s.key)
            return s;
    }
    throw std::invalid_argument("tarnixddc: no sensor " + key);
}

void checkChannel(int direction, size_t channel)
{
    if (direction != SOAPY_SDR_RX || channel != 0)
        throw std::invalid_argument("tarnixddc: the receiver has one RX channel (0)");
}

void checkGainName(const std::string &name)
{
    if (name != kAttenuator)
        throw std::invalid_argument("tarnixddc: no gain element " + name + " (only ATT)");
}

bool parseBool(const std::string &value)
{
    if (value == "true" || value == "1" || value == "on" || value == "yes")
        return true;
    if (value == "false" || value == "0" || value == "off" || value == "no")
        return false;
    throw std::invalid_argument("tarnixddc: not a boolean: " + value);
}

std::string boolText(bool on)
{
    return on ? "true" : "false";
}

std::mutex g_openLock;
std::set<TarnixSoapyDevice *> g_open; // devices made and not yet destroyed

} // namespace

TarnixSoapyDevice::TarnixSoapyDevice(const Receiver &receiver)
    : m_receiver(receiver), m_control(new TarnixControl(m_sink))
{
    if (!m_control->open(m_receiver, nullptr))
        throw std::runtime_error("tarnixddc: cannot open the connection to " +
                                 m_receiver.serial.toStdString() + " (local port " +
                                 std::to_string(m_receiver.port) + " in use?)");
    m_connected = true;
    m_info = m_control->info(&m_infoOk);
    m_calibrationOk = m_control->readCalibration(&m_calibration);
    m_control->setLpf(m_lpf);
    m_control->setAttenuator(m_attenuator);
    std::lock_guard<std::mutex> open(g_openLock);
    g_open.insert(this);
}

TarnixSoapyDevice::~TarnixSoapyDevice()
{
    {
        std::lock_guard<std::mutex> open(g_openLock);
        g_open.erase(this);
    }
    shutdown();
}

QList<Receiver> TarnixSoapyDevice::streamingOn(quint16 port)
{
    std::lock_guard<std::mutex> open(g_openLock);
    QList<Receiver> streaming;
    for (const TarnixSoapyDevice *device : g_open) {
        if (device->m_active && device->m_receiver.port == port)
            streaming.append(device->m_receiver);
    }
    return streaming;
}

void TarnixSoapyDevice::shutdownAll()
{
    std::lock_guard<std::mutex> open(g_openLock);
    for (TarnixSoapyDevice *device : g_open)
        device->shutdown();
}

void TarnixSoapyDevice::shutdown()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_control)
        return;
    if (m_active)
        m_control->stopStream();
    m_active = false;
    // Stops the stream receiver and driver threads; deleting the controller ends the rest.
    m_control.reset();
    m_connected = false;
}

TarnixControl &TarnixSoapyDevice::control() const
{
    if (!m_control)
        throw std::runtime_error("tarnixddc: the device was shut down");
    return *m_control;
}

// --- identification -----------------------------------------------------------------------------

std::string TarnixSoapyDevice::getDriverKey() const
{
    return "tarnixddc";
}

std::string TarnixSoapyDevice::getHardwareKey() const
{
    return "TarnixDDC";
}

SoapySDR::Kwargs TarnixSoapyDevice::getHardwareInfo() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    SoapySDR::Kwargs info;
    info["version"] = TARNIX_VERSION;
    info["serial"] = m_receiver.serial.toStdString();
    info["addr"] = m_receiver.address.toString().toStdString();
    info["port"] = std::to_string(m_receiver.port);
    if (m_infoOk) {
        info["firmware"] = std::to_string(m_info.versionMajor) + "." + std::to_string(m_info.versionMinor);
        info["device_type"] = std::to_string(m_info.deviceType);
        info["pcb_revision"] = std::to_string(m_info.pcbRevision);
        info["id"] = m_info.id.toStdString();
    }
    info["calibration"] = m_calibrationOk ? "valid" : "unavailable";
    if (m_calibrationOk)
        info["calibration_correction_percent"] = std::to_string(m_calibration.correctionPercent);
    return info;
}

// --- channels -----------------------------------------------------------------------------------

size_t TarnixSoapyDevice::getNumChannels(const int direction) const
{
    return direction == SOAPY_SDR_RX ? 1 : 0;
}

bool TarnixSoapyDevice::getFullDuplex(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return false;
}

// --- streams ------------------------------------------------------------------------------------

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
        throw std::invalid_argument("tarnixddc: the receiver has one RX channel (0)");
    auto stream = std::make_unique<RxStream>();
    if (format == SOAPY_SDR_CS32)
        stream->format = RxStream::Format::CS32;
    else if (format == SOAPY_SDR_CF32)
        stream->format = RxStream::Format::CF32;
    else if (format == SOAPY_SDR_CS16)
        stream->format = RxStream::Format::CS16;
    else
        throw std::invalid_argument("tarnixddc: stream format " + format + " not offered (CS32, CF32, CS16)");
    if (stream->format != RxStream::Format::CS32)
        stream->scratch.resize(kStreamMtuPairs);

    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stream)
        throw std::runtime_error("tarnixddc: a stream is already set up");
    m_stream = std::move(stream);
    m_streamHandle = m_stream.get();
    return reinterpret_cast<SoapySDR::Stream *>(m_stream.get());
}

TarnixSoapyDevice::RxStream *TarnixSoapyDevice::checkedStream(SoapySDR::Stream *stream) const
{
    auto *s = reinterpret_cast<RxStream *>(stream);
    if (!s || s != m_streamHandle.load())
        throw std::invalid_argument("tarnixddc: not a stream of this device");
    return s;
}

void TarnixSoapyDevice::closeStream(SoapySDR::Stream *stream)
{
    checkedStream(stream);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_active)
        stopLocked();
    m_streamHandle = nullptr;
    m_stream.reset();
}

size_t TarnixSoapyDevice::getStreamMTU(SoapySDR::Stream *stream) const
{
    checkedStream(stream);
    return kStreamMtuPairs;
}

int TarnixSoapyDevice::activateStream(SoapySDR::Stream *stream, const int flags, const long long timeNs,
                                      const size_t numElems)
{
    Q_UNUSED(timeNs);
    Q_UNUSED(numElems);
    checkedStream(stream);
    if (flags != 0)
        return SOAPY_SDR_NOT_SUPPORTED; // no timed starts or bursts
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_active)
        return 0;
    return startLocked() ? 0 : SOAPY_SDR_STREAM_ERROR;
}

int TarnixSoapyDevice::deactivateStream(SoapySDR::Stream *stream, const int flags, const long long timeNs)
{
    Q_UNUSED(timeNs);
    checkedStream(stream);
    if (flags != 0)
        return SOAPY_SDR_NOT_SUPPORTED;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_active)
        stopLocked();
    return 0;
}

bool TarnixSoapyDevice::startLocked()
{
    if (!m_connected) {
        m_connected = control().open(m_receiver, nullptr);
        if (!m_connected)
            return false;
    }
    if (!control().start(kStartMode, m_rateIndex)) {
        stopLocked();
        return false;
    }
    m_active = true;
    QThread::msleep(kSettleMs);
    control().setFrequency(0, quint32(std::lround(m_frequencyHz)));
    control().setAttenuator(m_attenuator);
    control().setLpf(m_lpf);
    return true;
}

void TarnixSoapyDevice::stopLocked()
{
    control().stopStream();
    // The stream receiver takes a stream up from sequence 0 only on a new connection, and the
    // receiver numbers every stream from 0.
    control().close();
    m_connected = control().open(m_receiver, nullptr);
    m_active = false;
}

int TarnixSoapyDevice::readStream(SoapySDR::Stream *stream, void *const *buffs, const size_t numElems,
                                  int &flags, long long &timeNs, const long timeoutUs)
{
    // No lock here: a control call on another thread must not hold up the samples.
    RxStream *s = reinterpret_cast<RxStream *>(stream);
    if (!s || s != m_streamHandle.load() || !buffs || !buffs[0])
        return SOAPY_SDR_STREAM_ERROR;
    flags = 0;
    timeNs = 0;
    const bool native = s->format == RxStream::Format::CS32;
    IqPair *to = native ? static_cast<IqPair *>(buffs[0]) : s->scratch.data();
    const size_t room = native ? numElems : std::min(numElems, s->scratch.size());
    size_t got = 0;
    switch (m_sink.read(to, room, std::chrono::microseconds(std::max(0L, timeoutUs)), &got)) {
    case StreamSink::Read::Timeout:
        return SOAPY_SDR_TIMEOUT;
    case StreamSink::Read::Loss:
        return SOAPY_SDR_OVERFLOW;
    case StreamSink::Read::Data:
        break;
    }
    if (s->format == RxStream::Format::CF32) {
        auto *out = static_cast<float *>(buffs[0]);
        constexpr float kScale = float(1.0 / kFullScale);
        for (size_t k = 0; k < got; ++k) {
            out[2 * k] = float(to[k].i) * kScale;
            out[2 * k + 1] = float(to[k].q) * kScale;
        }
    } else if (s->format == RxStream::Format::CS16) {
        auto *out = static_cast<qint16 *>(buffs[0]);
        for (size_t k = 0; k < got; ++k) {
            out[2 * k] = qint16(to[k].i >> 16);
            out[2 * k + 1] = qint16(to[k].q >> 16);
        }
    }
    return int(got);
}

// --- gain ---------------------------------------------------------------------------------------

std::vector<std::string> TarnixSoapyDevice::listGains(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return {kAttenuator};
}

void TarnixSoapyDevice::setGain(const int direction, const size_t channel, const std::string &name,
                                const double value)
{
    checkChannel(direction, channel);
    checkGainName(name);
    if (std::isnan(value))
        throw std::invalid_argument("tarnixddc: gain is not a number");
    // Two steps: -20 dB (attenuator on) or 0 dB; values in between go to the nearer one.
    const bool on = value < -kAttenuationDb / 2;
    std::lock_guard<std::mutex> lock(m_lock);
    m_attenuator = on;
    control().setAttenuator(on);
}

double TarnixSoapyDevice::getGain(const int direction, const size_t channel, const std::string &name) const
{
    checkChannel(direction, channel);
    checkGainName(name);
    std::lock_guard<std::mutex> lock(m_lock);
    return m_attenuator ? -kAttenuationDb : 0.0;
}

SoapySDR::Range TarnixSoapyDevice::getGainRange(const int direction, const size_t channel,
                                                const std::string &name) const
{
    checkChannel(direction, channel);
    checkGainName(name);
    return SoapySDR::Range(-kAttenuationDb, 0.0, kAttenuationDb);
}

// --- frequency ----------------------------------------------------------------------------------

void TarnixSoapyDevice::setFrequency(const int direction, const size_t channel, const double frequency,
                                     const SoapySDR::Kwargs &args)
{
    setFrequency(direction, channel, kRf, frequency, args);
}

void TarnixSoapyDevice::setFrequency(const int direction, const size_t channel, const std::string &name,
                                     const double frequency, const SoapySDR::Kwargs &args)
{
    Q_UNUSED(args);
    checkChannel(direction, channel);
    if (name != kRf)
        throw std::invalid_argument("tarnixddc: no frequency element " + name + " (only RF)");
    if (std::isnan(frequency))
        throw std::invalid_argument("tarnixddc: frequency is not a number");
    // The plug-in's clamp: above 800 MHz is 800 MHz. Below 0 is 0 (the plug-in's wrap to 800 MHz
    // only follows from its unsigned argument).
    const double hz = std::round(std::clamp(frequency, 0.0, kMaxFrequencyHz));
    std::lock_guard<std::mutex> lock(m_lock);
    m_frequencyHz = hz;
    control().setFrequency(0, quint32(hz));
}

double TarnixSoapyDevice::getFrequency(const int direction, const size_t channel) const
{
    return getFrequency(direction, channel, kRf);
}

double TarnixSoapyDevice::getFrequency(const int direction, const size_t channel,
                                       const std::string &name) const
{
    checkChannel(direction, channel);
    if (name != kRf)
        throw std::invalid_argument("tarnixddc: no frequency element " + name + " (only RF)");
    std::lock_guard<std::mutex> lock(m_lock);
    return m_frequencyHz;
}

std::vector<std::string> TarnixSoapyDevice::listFrequencies(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return {kRf};
}

SoapySDR::RangeList TarnixSoapyDevice::getFrequencyRange(const int direction, const size_t channel) const
{
    return getFrequencyRange(direction, channel, kRf);
}

SoapySDR::RangeList TarnixSoapyDevice::getFrequencyRange(const int direction, const size_t channel,
                                                         const std::string &name) const
{
    checkChannel(direction, channel);
    if (name != kRf)
        throw std::invalid_argument("tarnixddc: no frequency element " + name + " (only RF)");
    return {SoapySDR::Range(0.0, kMaxFrequencyHz)};
}

// --- sample rate and bandwidth ------------------------------------------------------------------

void TarnixSoapyDevice::setSampleRate(const int direction, const size_t channel, const double rate)
{
    checkChannel(direction, channel);
    const auto &rates = ratetables::kSampleRatesSps;
    const auto found =
        std::find_if(rates.begin(), rates.end(), [rate](double r) { return std::abs(r - rate) < 0.5; });
    if (found == rates.end())
        throw std::invalid_argument("tarnixddc: sample rate " + std::to_string(rate) +
                                    " not offered (39062.5, 78125, 156250, 312500)");
    const int index = int(found - rates.begin());
    std::lock_guard<std::mutex> lock(m_lock);
    if (index == m_rateIndex)
        return;
    m_rateIndex = index;
    // The receiver takes a new rate only with a new start.
    if (m_active) {
        stopLocked();
        m_active = startLocked();
    }
}

double TarnixSoapyDevice::getSampleRate(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    std::lock_guard<std::mutex> lock(m_lock);
    return ratetables::kSampleRatesSps[size_t(m_rateIndex)];
}

std::vector<double> TarnixSoapyDevice::listSampleRates(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return {ratetables::kSampleRatesSps.begin(), ratetables::kSampleRatesSps.end()};
}

SoapySDR::RangeList TarnixSoapyDevice::getSampleRateRange(const int direction, const size_t channel) const
{
    SoapySDR::RangeList ranges;
    for (double r : listSampleRates(direction, channel))
        ranges.emplace_back(r, r);
    return ranges;
}

double TarnixSoapyDevice::getBandwidth(const int direction, const size_t channel) const
{
    // Complex sampling: the band is as wide as the rate.
    return getSampleRate(direction, channel);
}

std::vector<double> TarnixSoapyDevice::listBandwidths(const int direction, const size_t channel) const
{
    return {getBandwidth(direction, channel)};
}

// --- sensors ------------------------------------------------------------------------------------

std::vector<std::string> TarnixSoapyDevice::listSensors() const
{
    std::vector<std::string> keys;
    for (const Sensor &s : kSensors)
        keys.emplace_back(s.key);
    return keys;
}

SoapySDR::ArgInfo TarnixSoapyDevice::getSensorInfo(const std::string &key) const
{
    const Sensor &s = sensorFor(key);
    SoapySDR::ArgInfo info;
    info.key = s.key;
    info.name = s.key;
    info.type = SoapySDR::ArgInfo::BOOL;
    info.description = s.description;
    return info;
}

std::string TarnixSoapyDevice::readSensor(const std::string &key) const
{
    const Sensor &s = sensorFor(key);
    return boolText(freshInfo().statusFlags & s.flag);
}

ReceiverInfo TarnixSoapyDevice::freshInfo() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    bool ok = false;
    const ReceiverInfo info = m_connected ? control().info(&ok) : ReceiverInfo();
    if (!ok)
        throw std::runtime_error("tarnixddc: the receiver did not answer the device-information request");
    return info;
}

// --- settings -----------------------------------------------------------------------------------

SoapySDR::ArgInfoList TarnixSoapyDevice::getSettingInfo() const
{
    SoapySDR::ArgInfo lpf;
    lpf.key = kLpf;
    lpf.name = "Low-pass filter";
    lpf.type = SoapySDR::ArgInfo::BOOL;
    lpf.value = "true";
    lpf.description = "The receiver's low-pass filter";
    return {lpf};
}

void TarnixSoapyDevice::writeSetting(const std::string &key, const std::string &value)
{
    if (key != kLpf)
        throw std::invalid_argument("tarnixddc: no setting " + key + " (only lpf)");
    const bool on = parseBool(value);
    std::lock_guard<std::mutex> lock(m_lock);
    m_lpf = on;
    control().setLpf(on);
}

std::string TarnixSoapyDevice::readSetting(const std::string &key) const
{
    if (key != kLpf)
        throw std::invalid_argument("tarnixddc: no setting " + key + " (only lpf)");
    std::lock_guard<std::mutex> lock(m_lock);
    return boolText(m_lpf);
}
