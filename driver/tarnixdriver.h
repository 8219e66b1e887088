#pragma once

#include "discovery/receiver.h"
#include "driver/calibration.h"
#include "driver/requestengine.h"
#include "platform/wakesignal.h"
#include "protocol/hostinterface.h"

#include <QThread>

#include <atomic>

class DspAbstract;
class TarnixDevice;
struct ControlRequest;

// The command/response side of one receiver connection. Every public operation runs in the GUI
// thread; the driver thread (started by connectTo) hands requests to the stream receiver, matches
// replies, and resends or gives up on late requests, waking for each of these as it comes due.
class TarnixDriver : public QThread
{
    Q_OBJECT
public:
    // Between turns the driver thread waits for a command, a reply or the next timeout; each of them
    // and the close wake it, and a wake-up is never lost. The bound is a last guard only, long
    // enough that an idle connection costs one wake-up a second.
    static constexpr int kMaxWaitMs = 1000;
    static constexpr unsigned long kWaitPollMs = 3;

    explicit TarnixDriver(DspAbstract *dsp, QObject *parent = nullptr);
    ~TarnixDriver() override;

    bool connectTo(const Receiver &receiver);
    void closeConnection();
    bool isConnected() const { return m_running; }

    bool startStream(int rateIndex, quint16 mode, HostCallback callback);
    bool stopStream();
    // 0 = attenuator on, anything else is sent as 1 (off).
    void setAttenuatorWord(quint32 value);
    void setLpfEnabled(bool enable);
    void setFrequency(quint32 channel, double hz);

    // Blocking reads. `crcOk` is written only when the read succeeds (and may be null).
    bool readCalibration(CalibrationData *out, bool *crcOk);
    // `block` receives 36 bytes; may be null.
    bool readDeviceInfo(quint8 *block);

    bool isStreaming() const { return m_streaming; }
    bool attenuatorOn() const { return m_attenuatorOn; }
    const CalibrationData &calibration() const { return m_calibration; }
    const Receiver &receiver() const { return m_receiver; }
    TarnixDevice *device() const { return m_device; }

protected:
    void run() override;

private:
    ControlRequest *buildRequest(QByteArray datagram, bool blocking, quint32 timeoutMs);
    // Appends the request; for a blocking one, waits for it and hands it back (the caller deletes it).
    ControlRequest *submit(ControlRequest *request);
    ControlRequest *waitFor(quint64 id);
    void stopConnection();

    DspAbstract *m_dsp;
    TarnixDevice *m_device;
    quint64 m_requestCounter = 0;
    std::atomic<bool> m_running{false};
    bool m_streaming = false;
    Receiver m_receiver;
    RequestEngine m_engine;
    // Wakes the driver thread: a command was submitted, a reply queued, or the connection closes.
    platform::WakeSignal m_work;
    bool m_attenuatorOn = false;
    CalibrationData m_calibration;
};
