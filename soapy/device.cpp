// The device's life (open, shut down, the devices of this process), its identity and its sensors.
#include "soapy/arguments.h"
#include "soapy/tarnixsoapydevice.h"

#include "control/tarnixcontrol.h"

#include <SoapySDR/Logger.hpp>

#include <set>

using namespace soapyargs;

namespace {

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
const std::string kOverflows = "overflows";

const Sensor &sensorFor(const std::string &key)
{
    for (const Sensor &s : kSensors) {
        if (key == s.key)
            return s;
    }
    fail("no sensor " + key);
}

std::mutex g_openLock;
std::set<TarnixSoapyDevice *> g_open; // devices made and not yet destroyed

} // namespace

TarnixSoapyDevice::TarnixSoapyDevice(const Receiver &receiver, const SoapySDR::Kwargs &args)
    : m_receiver(receiver), m_control(new TarnixControl(m_sink))
{
    const auto lpf = args.find("lpf");
    if (lpf != args.end())
        m_lpf = parseBool(lpf->second);
    if (!m_control->open(m_receiver, nullptr))
        fail("cannot open the connection to " + m_receiver.serial.toStdString() + " (local port " +
             std::to_string(m_receiver.port) + " in use?)");
    m_connected = true;
    m_info = m_control->info(&m_infoOk);
    m_calibrationOk = m_control->readCalibration(&m_calibration);
    m_control->setLpf(m_lpf);
    m_control->setAttenuator(m_attenuator);
    if (m_infoOk)
        SoapySDR::logf(SOAPY_SDR_INFO, "tarnixddc: opened %s at %s:%u, firmware %u.%u", name().c_str(),
                       m_receiver.address.toString().toUtf8().constData(), m_receiver.port,
                       unsigned(m_info.versionMajor), unsigned(m_info.versionMinor));
    else
        SoapySDR::logf(SOAPY_SDR_WARNING,
                       "tarnixddc: opened %s at %s:%u; it did not answer the device-information request",
                       name().c_str(), m_receiver.address.toString().toUtf8().constData(), m_receiver.port);
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
    m_sink.setOpen(false); // wakes any reader still waiting
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_control)
        return;
    if (m_running)
        m_control->stopStream();
    m_active = false;
    m_running = false;
    // Stops the stream receiver and driver threads; deleting the controller ends the rest.
    m_control.reset();
    m_connected = false;
}

TarnixControl &TarnixSoapyDevice::control() const
{
    if (!m_control)
        fail("the device was shut down");
    return *m_control;
}

std::string TarnixSoapyDevice::labelFor(const QString &serial)
{
    return "TarnixDDC " + serial.toStdString();
}

std::string TarnixSoapyDevice::name() const
{
    return m_receiver.serial.toStdString();
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

// --- sensors ------------------------------------------------------------------------------------

std::vector<std::string> TarnixSoapyDevice::listSensors() const
{
    std::vector<std::string> keys;
    for (const Sensor &s : kSensors)
        keys.emplace_back(s.key);
    keys.push_back(kOverflows);
    return keys;
}

SoapySDR::ArgInfo TarnixSoapyDevice::getSensorInfo(const std::string &key) const
{
    SoapySDR::ArgInfo info;
    info.key = key;
    info.name = key;
    if (key == kOverflows) {
        info.type = SoapySDR::ArgInfo::INT;
        info.description = "Losses reported to readers (an \"O\" each) since the device was opened";
        return info;
    }
    info.type = SoapySDR::ArgInfo::BOOL;
    info.description = sensorFor(key).description;
    return info;
}

std::string TarnixSoapyDevice::readSensor(const std::string &key) const
{
    if (key == kOverflows)
        return std::to_string(m_sink.overflows());
    const Sensor &s = sensorFor(key);
    return boolText(freshInfo().statusFlags & s.flag);
}

ReceiverInfo TarnixSoapyDevice::freshInfo() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    bool ok = false;
    const ReceiverInfo info = m_connected ? control().info(&ok) : ReceiverInfo();
    if (!ok)
        fail("the receiver did not answer the device-information request");
    return info;
}
