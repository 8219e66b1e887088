#pragma once

#include "discovery/receiver.h"
#include "driver/calibration.h"
#include "driver/receiverinfo.h"
#include "protocol/hostinterface.h"

#include <QList>
#include <QObject>

class DspAbstract;
class TarnixDriver;
class TarnixSearcher;

// Owns the machinery for one receiver (discovery front, driver, sample output) and translates the
// command object's requests into driver and searcher calls.
class TarnixControl : public QObject
{
public:
    explicit TarnixControl(QObject *parent = nullptr);
    // For a front end that takes the samples itself: `output` replaces the host-callback delivery.
    // It is not owned and must outlive this object.
    explicit TarnixControl(DspAbstract &output, QObject *parent = nullptr);
    ~TarnixControl() override;

    Receiver findReceiver(const Receiver &wanted);
    bool open(const Receiver &receiver, HostCallback callback);
    // False when the receiver never answered the start command: nothing will arrive.
    bool start(quint16 mode, int rateIndex);
    bool stopStream();
    void close();
    void setAttenuator(bool on);
    void setLpf(bool on);
    void setFrequency(quint32 channel, quint32 hz);
    ReceiverInfo info(bool *ok = nullptr);
    // The receiver's calibration; true only for an answered read whose CRC matched.
    bool readCalibration(CalibrationData *out);
    QList<Receiver> search(quint16 port);

    // The driver's wire value for the attenuator: 0 switches it on.
    static quint32 attenuatorWord(bool on) { return on ? 0 : 1; }

private:
    TarnixSearcher *m_searcher = nullptr;
    TarnixDriver *m_driver = nullptr;
    DspAbstract *m_output = nullptr;
    bool m_ownsOutput = true;
    Receiver m_receiver;
    bool m_attenuator = false;
    bool m_lpf = false;
    HostCallback m_callback = nullptr;
};
