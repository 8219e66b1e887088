#pragma once

#include "control/ratetables.h"
#include "discovery/receiver.h"
#include "driver/calibration.h"
#include "driver/receiverinfo.h"
#include "soapy/resampler.h"
#include "soapy/streamsink.h"

#include <SoapySDR/Device.hpp>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class TarnixControl;

// One receiver as a SoapySDR device: one RX channel over the same connection controller, driver
// and stream receiver as the plug-in. Control calls may come from any client thread; they take
// turns on one lock, since the controller expects one caller at a time. readStream never waits for
// that lock, so a control call never holds up the samples. The definitions are split as in other
// SoapySDR modules: device.cpp (life, identity, sensors), settings.cpp, streaming.cpp.
class TarnixSoapyDevice : public SoapySDR::Device
{
public:
    // A rate the device offers: the receiver's rate it streams at, and whether that stream is
    // resampled to it by 4/5.
    struct OfferedRate
    {
        double samplesPerSecond;
        int receiverRateIndex;
        bool resampled;
    };
    // The receiver's four rates, and 250000 made from its 312500: the rate rtl_433 asks for unless
    // told otherwise, and decodes at whatever the device reads back.
    static constexpr std::array<OfferedRate, 5> kRates = {{
        {ratetables::kSampleRatesSps[0], 0, false},
        {ratetables::kSampleRatesSps[1], 1, false},
        {ratetables::kSampleRatesSps[2], 2, false},
        {ratetables::kSampleRatesSps[3] * Resampler::kUp / Resampler::kDown, 3, true},
        {ratetables::kSampleRatesSps[3], 3, false},
    }};
    static constexpr int kDefaultRateIndex = 4;
    static constexpr double kMaxFrequencyHz = 800e6;
    static constexpr double kDefaultFrequencyHz = 7.2e6;
    static constexpr double kAttenuationDb = 20.0;
    static constexpr double kMaxCorrectionPpm = 1000.0;
    static constexpr size_t kStreamMtuPairs = 16384;

    // Connects and reads the device information and the calibration; throws std::runtime_error
    // when the connection cannot be opened. `args` may set "lpf" as writeSetting does.
    TarnixSoapyDevice(const Receiver &receiver, const SoapySDR::Kwargs &args);
    ~TarnixSoapyDevice() override;

    // Stops the stream and closes the connection, leaving no thread running. Idempotent; called at
    // unmake and, for devices a client never closed, when the module goes away.
    void shutdown();
    // shutdown() for every device that is still open.
    static void shutdownAll();
    // The receivers that open devices of this process stream from with `port` as their local port.
    static QList<Receiver> streamingOn(quint16 port);
    // What a person calls the receiver: "TarnixDDC" and its serial, whatever its address.
    static std::string labelFor(const QString &serial);

    // Identification
    std::string getDriverKey() const override;
    std::string getHardwareKey() const override;
    SoapySDR::Kwargs getHardwareInfo() const override;

    // Channels
    size_t getNumChannels(const int direction) const override;
    bool getFullDuplex(const int direction, const size_t channel) const override;

    // Streams
    std::vector<std::string> getStreamFormats(const int direction, const size_t channel) const override;
    std::string getNativeStreamFormat(const int direction, const size_t channel,
                                      double &fullScale) const override;
    SoapySDR::Stream *setupStream(const int direction, const std::string &format,
                                  const std::vector<size_t> &channels, const SoapySDR::Kwargs &args) override;
    void closeStream(SoapySDR::Stream *stream) override;
    size_t getStreamMTU(SoapySDR::Stream *stream) const override;
    int activateStream(SoapySDR::Stream *stream, const int flags, const long long timeNs,
                       const size_t numElems) override;
    int deactivateStream(SoapySDR::Stream *stream, const int flags, const long long timeNs) override;
    int readStream(SoapySDR::Stream *stream, void *const *buffs, const size_t numElems, int &flags,
                   long long &timeNs, const long timeoutUs) override;

    // Antenna: the one input
    std::vector<std::string> listAntennas(const int direction, const size_t channel) const override;
    void setAntenna(const int direction, const size_t channel, const std::string &name) override;
    std::string getAntenna(const int direction, const size_t channel) const override;

    // Front-end corrections
    bool hasDCOffsetMode(const int direction, const size_t channel) const override;
    void setDCOffsetMode(const int direction, const size_t channel, const bool automatic) override;
    bool getDCOffsetMode(const int direction, const size_t channel) const override;
    bool hasFrequencyCorrection(const int direction, const size_t channel) const override;
    void setFrequencyCorrection(const int direction, const size_t channel, const double value) override;
    double getFrequencyCorrection(const int direction, const size_t channel) const override;

    // Gain: the attenuator
    std::vector<std::string> listGains(const int direction, const size_t channel) const override;
    void setGain(const int direction, const size_t channel, const std::string &name,
                 const double value) override;
    double getGain(const int direction, const size_t channel, const std::string &name) const override;
    SoapySDR::Range getGainRange(const int direction, const size_t channel,
                                 const std::string &name) const override;

    // Frequency: "RF", and "CORR" (the correction in ppm)
    void setFrequency(const int direction, const size_t channel, const double frequency,
                      const SoapySDR::Kwargs &args) override;
    void setFrequency(const int direction, const size_t channel, const std::string &name,
                      const double frequency, const SoapySDR::Kwargs &args) override;
    double getFrequency(const int direction, const size_t channel) const override;
    double getFrequency(const int direction, const size_t channel, const std::string &name) const override;
    std::vector<std::string> listFrequencies(const int direction, const size_t channel) const override;
    SoapySDR::RangeList getFrequencyRange(const int direction, const size_t channel) const override;
    SoapySDR::RangeList getFrequencyRange(const int direction, const size_t channel,
                                          const std::string &name) const override;

    // Sample rate and bandwidth
    void setSampleRate(const int direction, const size_t channel, const double rate) override;
    double getSampleRate(const int direction, const size_t channel) const override;
    std::vector<double> listSampleRates(const int direction, const size_t channel) const override;
    SoapySDR::RangeList getSampleRateRange(const int direction, const size_t channel) const override;
    void setBandwidth(const int direction, const size_t channel, const double bandwidth) override;
    double getBandwidth(const int direction, const size_t channel) const override;
    std::vector<double> listBandwidths(const int direction, const size_t channel) const override;
    SoapySDR::RangeList getBandwidthRange(const int direction, const size_t channel) const override;

    // Sensors: the reference-clock and PLL flags of the device information, and the overflows
    std::vector<std::string> listSensors() const override;
    SoapySDR::ArgInfo getSensorInfo(const std::string &key) const override;
    std::string readSensor(const std::string &key) const override;

    // Settings: the low-pass filter
    SoapySDR::ArgInfoList getSettingInfo() const override;
    void writeSetting(const std::string &key, const std::string &value) override;
    std::string readSetting(const std::string &key) const override;

private:
    struct RxStream
    {
        enum class Format { CS32, CF32, CS16 } format;
    };

    // Starts the receiver at the current rate and sends tuning, attenuator and filter again; on
    // failure says why in `why`.
    bool startLocked(std::string *why);
    // Stops the receiver and reconnects, so the next start takes the stream up from its beginning.
    void stopLocked();
    // A stream that stays silent is started again, on the reading thread, when no control call holds
    // the lock.
    void restartSilentStream(std::chrono::steady_clock::duration silentFor);
    // Sends the tuning word for the frequency and the correction.
    void tuneLocked();
    const OfferedRate &rateLocked() const;
    ReceiverInfo freshInfo() const;
    // The controller; throws once the device was shut down. Call with m_lock held.
    TarnixControl &control() const;
    std::string name() const;

    const Receiver m_receiver;
    // Declared before the controller, which pushes into it until the controller is gone.
    StreamSink m_sink;

    mutable std::mutex m_lock; // every member below, and every call into the controller
    std::unique_ptr<TarnixControl> m_control;
    bool m_connected = false;
    std::atomic<bool> m_active{false}; // activated by the client; streamingOn() reads it unlocked
    bool m_running = false;            // the receiver took the start command
    // The stream handle; its own lock, so readStream checks it without waiting behind control calls.
    mutable std::mutex m_streamLock;
    std::unique_ptr<RxStream> m_stream;
    std::atomic<bool> m_silent{false}; // a silence was reported and nothing has come since
    int m_rateIndex = kDefaultRateIndex;
    double m_frequencyHz = kDefaultFrequencyHz;
    double m_correctionPpm = 0.0;
    bool m_attenuator = false;
    bool m_lpf = true;
    bool m_dcRemoval = true;
    ReceiverInfo m_info;
    bool m_infoOk = false;
    CalibrationData m_calibration;
    bool m_calibrationOk = false;
};
