// What a client sets on the channel: antenna, corrections, the attenuator, frequency, rate,
// bandwidth and the low-pass filter. Each value is kept here and sent to the receiver at once when
// connected, and again with every start, so the order a program sets things in does not matter.
#include "soapy/arguments.h"
#include "soapy/tarnixsoapydevice.h"

#include "control/tarnixcontrol.h"

#include <SoapySDR/Logger.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace soapyargs;

namespace {

const std::string kAntenna = "RX";
const std::string kAttenuator = "ATT";
const std::string kRf = "RF";
const std::string kCorrection = "CORR";
const std::string kLpf = "lpf";
// An asked rate this close to an offered one is that rate: programs that keep rates as integers
// cannot write 39062.5.
constexpr double kRateToleranceHz = 1.0;

// Numbers as a person writes them: 2400000, 39062.5, 868.3.
std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

void checkGainName(const std::string &name)
{
    if (name != kAttenuator)
        fail("no gain element " + name + " (only ATT)");
}

// The offered rate nearest to `rate` (the lower one of two as near).
int nearestRateIndex(double rate)
{
    const auto &rates = TarnixSoapyDevice::kRates;
    const auto nearest = std::min_element(rates.begin(), rates.end(), [rate](const auto &a, const auto &b) {
        return std::abs(a.samplesPerSecond - rate) < std::abs(b.samplesPerSecond - rate);
    });
    return int(nearest - rates.begin());
}

std::string offeredRates()
{
    std::string text;
    for (const auto &r : TarnixSoapyDevice::kRates)
        text += (text.empty() ? "" : ", ") + number(r.samplesPerSecond);
    return text;
}

} // namespace

// --- antenna and corrections --------------------------------------------------------------------

std::vector<std::string> TarnixSoapyDevice::listAntennas(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return {kAntenna};
}

void TarnixSoapyDevice::setAntenna(const int direction, const size_t channel, const std::string &name)
{
    checkChannel(direction, channel);
    if (!name.empty() && name != kAntenna)
        fail("no antenna " + name + " (only RX)");
}

std::string TarnixSoapyDevice::getAntenna(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return kAntenna;
}

bool TarnixSoapyDevice::hasDCOffsetMode(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return true;
}

void TarnixSoapyDevice::setDCOffsetMode(const int direction, const size_t channel, const bool automatic)
{
    checkChannel(direction, channel);
    // The receiver mixes digitally: there is no offset at the band's centre for removal to take
    // away, so either choice is kept and read back and the samples stay as they are.
    std::lock_guard<std::mutex> lock(m_lock);
    m_dcRemoval = automatic;
}

bool TarnixSoapyDevice::getDCOffsetMode(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dcRemoval;
}

bool TarnixSoapyDevice::hasFrequencyCorrection(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return true;
}

void TarnixSoapyDevice::setFrequencyCorrection(const int direction, const size_t channel, const double value)
{
    checkChannel(direction, channel);
    if (!std::isfinite(value))
        fail("frequency correction is not a number");
    const double ppm = std::clamp(value, -kMaxCorrectionPpm, kMaxCorrectionPpm);
    if (ppm != value)
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "tarnixddc: frequency correction %s ppm is beyond +-%s; using %s ppm",
                       number(value).c_str(), number(kMaxCorrectionPpm).c_str(), number(ppm).c_str());
    std::lock_guard<std::mutex> lock(m_lock);
    m_correctionPpm = ppm;
    tuneLocked();
}

double TarnixSoapyDevice::getFrequencyCorrection(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    std::lock_guard<std::mutex> lock(m_lock);
    return m_correctionPpm;
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
        fail("gain is not a number");
    // Two steps: -20 dB (attenuator on) or 0 dB; values in between go to the nearer one. The
    // overall gain (SoapySDR's sum of each element above its minimum, 0..20) is this plus 20.
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
    // The correction is not a part of the frequency to share it out over, as the default would.
    setFrequency(direction, channel, kRf, frequency, args);
}

void TarnixSoapyDevice::setFrequency(const int direction, const size_t channel, const std::string &name,
                                     const double frequency, const SoapySDR::Kwargs &args)
{
    Q_UNUSED(args);
    checkChannel(direction, channel);
    if (name == kCorrection)
        return setFrequencyCorrection(direction, channel, frequency);
    if (name != kRf)
        fail("no frequency element " + name + " (RF, CORR)");
    if (!std::isfinite(frequency))
        fail("frequency is not a number");
    // The plug-in's clamp: above 800 MHz is 800 MHz. Below 0 is 0 (the plug-in's wrap to 800 MHz
    // only follows from its unsigned argument).
    const double hz = std::round(std::clamp(frequency, 0.0, kMaxFrequencyHz));
    if (std::abs(hz - frequency) >= 1.0)
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "tarnixddc: %s Hz is outside the receiver's 0 to %s Hz; tuned to %s Hz",
                       number(frequency).c_str(), number(kMaxFrequencyHz).c_str(), number(hz).c_str());
    std::lock_guard<std::mutex> lock(m_lock);
    m_frequencyHz = hz;
    tuneLocked();
}

void TarnixSoapyDevice::tuneLocked()
{
    // A positive correction says the receiver's clock runs that much fast, so it is asked for a
    // little less to land on the frequency.
    const double word = std::clamp(m_frequencyHz / (1.0 + m_correctionPpm * 1e-6), 0.0, kMaxFrequencyHz);
    control().setFrequency(0, quint32(std::lround(word)));
}

double TarnixSoapyDevice::getFrequency(const int direction, const size_t channel) const
{
    return getFrequency(direction, channel, kRf);
}

double TarnixSoapyDevice::getFrequency(const int direction, const size_t channel,
                                       const std::string &name) const
{
    checkChannel(direction, channel);
    if (name == kCorrection)
        return getFrequencyCorrection(direction, channel);
    if (name != kRf)
        fail("no frequency element " + name + " (RF, CORR)");
    std::lock_guard<std::mutex> lock(m_lock);
    return m_frequencyHz;
}

std::vector<std::string> TarnixSoapyDevice::listFrequencies(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    return {kRf, kCorrection};
}

SoapySDR::RangeList TarnixSoapyDevice::getFrequencyRange(const int direction, const size_t channel) const
{
    return getFrequencyRange(direction, channel, kRf);
}

SoapySDR::RangeList TarnixSoapyDevice::getFrequencyRange(const int direction, const size_t channel,
                                                         const std::string &name) const
{
    checkChannel(direction, channel);
    if (name == kCorrection)
        return {SoapySDR::Range(-kMaxCorrectionPpm, kMaxCorrectionPpm)};
    if (name != kRf)
        fail("no frequency element " + name + " (RF, CORR)");
    return {SoapySDR::Range(0.0, kMaxFrequencyHz)};
}

// --- sample rate and bandwidth ------------------------------------------------------------------

void TarnixSoapyDevice::setSampleRate(const int direction, const size_t channel, const double rate)
{
    checkChannel(direction, channel);
    if (!std::isfinite(rate) || rate <= 0)
        fail("sample rate " + number(rate) + " is not a rate (offered: " + offeredRates() + ")");
    const int index = nearestRateIndex(rate);
    const double served = kRates[size_t(index)].samplesPerSecond;
    if (std::abs(served - rate) > kRateToleranceHz)
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "tarnixddc: %s samples/s is not offered (%s); streaming at %s samples/s",
                       number(rate).c_str(), offeredRates().c_str(), number(served).c_str());
    std::lock_guard<std::mutex> lock(m_lock);
    if (index == m_rateIndex)
        return;
    m_rateIndex = index;
    // The receiver takes a new rate only with a new start; so does the resampling.
    if (m_active) {
        stopLocked();
        std::string why;
        if (!startLocked(&why))
            SoapySDR::logf(SOAPY_SDR_ERROR, "tarnixddc: %s did not restart at %s samples/s: %s",
                           name().c_str(), number(served).c_str(), why.c_str());
    }
}

double TarnixSoapyDevice::getSampleRate(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    std::lock_guard<std::mutex> lock(m_lock);
    return rateLocked().samplesPerSecond;
}

const TarnixSoapyDevice::OfferedRate &TarnixSoapyDevice::rateLocked() const
{
    return kRates[size_t(m_rateIndex)];
}

std::vector<double> TarnixSoapyDevice::listSampleRates(const int direction, const size_t channel) const
{
    checkChannel(direction, channel);
    std::vector<double> rates;
    for (const auto &r : kRates)
        rates.push_back(r.samplesPerSecond);
    return rates;
}

SoapySDR::RangeList TarnixSoapyDevice::getSampleRateRange(const int direction, const size_t channel) const
{
    SoapySDR::RangeList ranges;
    for (double r : listSampleRates(direction, channel))
        ranges.emplace_back(r, r);
    return ranges;
}

void TarnixSoapyDevice::setBandwidth(const int direction, const size_t channel, const double bandwidth)
{
    checkChannel(direction, channel);
    if (!std::isfinite(bandwidth) || bandwidth < 0)
        fail("bandwidth " + number(bandwidth) + " is not a bandwidth");
    // Complex sampling: the band is as wide as the rate, whatever is asked (0 asks for that).
    if (bandwidth != 0)
        SoapySDR::logf(SOAPY_SDR_DEBUG, "tarnixddc: the bandwidth follows the sample rate; %s Hz not set",
                       number(bandwidth).c_str());
}

double TarnixSoapyDevice::getBandwidth(const int direction, const size_t channel) const
{
    return getSampleRate(direction, channel);
}

std::vector<double> TarnixSoapyDevice::listBandwidths(const int direction, const size_t channel) const
{
    return {getBandwidth(direction, channel)};
}

SoapySDR::RangeList TarnixSoapyDevice::getBandwidthRange(const int direction, const size_t channel) const
{
    const double bandwidth = getBandwidth(direction, channel);
    return {SoapySDR::Range(bandwidth, bandwidth)};
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
        fail("no setting " + key + " (only lpf)");
    const bool on = parseBool(value);
    std::lock_guard<std::mutex> lock(m_lock);
    m_lpf = on;
    control().setLpf(on);
}

std::string TarnixSoapyDevice::readSetting(const std::string &key) const
{
    if (key != kLpf)
        fail("no setting " + key + " (only lpf)");
    std::lock_guard<std::mutex> lock(m_lock);
    return boolText(m_lpf);
}
