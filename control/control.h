#pragma once

#include "discovery/receiver.h"
#include "protocol/datagram.h"

#include <QObject>

#include <atomic>

class MainWindow;
class TarnixControl;
class TarnixDialog;
struct ReceiverInfo;

// The one object through which host calls and the control panel's requests reach the receiver.
// Lives in the GUI thread; host calls reach it as calls queued to that thread.
class Control : public QObject
{
    Q_OBJECT
public:
    explicit Control(MainWindow *window, QObject *parent = nullptr);
    ~Control() override;

    // The information box's text for a record, as showInfo() prints it.
    static QString infoText(const ReceiverInfo &info);

signals:
    void forceStop();

public slots:
    void open();
    void close();
    bool isOpen();
    void setFrequency(quint32 freq);
    quint32 sampleRate();

private slots:
    void setAttenuator(bool enable);
    void setLpf(bool enable);
    void showInfo();
    void search();

private:
    static constexpr quint32 kInitialFrequencyHz = 1800000;
    static constexpr quint32 kSampleRate = 312500;
    static constexpr quint16 kSearchPort = wire::kDefaultPort;
    static constexpr quint16 kStartMode = 1;
    static constexpr int kSettleMs = 50;

    std::atomic<bool> m_open{false};
    // Counts close() calls, so open() can tell that one ran inside its wait.
    quint64 m_closes = 0;
    bool m_attenuator = false;
    bool m_lpf = true;
    quint32 m_frequency = kInitialFrequencyHz;
    quint32 m_sampleRate = kSampleRate;
    MainWindow *m_window;
    Receiver m_receiver;
    TarnixControl *m_controller = nullptr;
    TarnixDialog *m_dialog = nullptr;
};
