#pragma once

#include "discovery/receiver.h"

#include <QMainWindow>

#include <atomic>

class Ui_MainWindow;

// The plug-in's control panel. It talks to no receiver itself: it emits what the user asks for
// and offers its fields to the command object. Lives in the GUI thread; only currentSampleRate()
// may be called from another thread.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Combo index plus one: the rate code the receiver expects (1, 2 or 3).
    int sampleRateCode() const;
    // Samples per second shown in the panel. Safe from any thread.
    int currentSampleRate() const;

    Receiver currentReceiver() const;
    void setReceiver(const Receiver &r);
    void setConnected();
    void setDisconnected();

signals:
    void changedLpf(bool on);
    void changedAtt(bool on);
    void info();
    void search();

public slots:
    void setActiveWindow();
    void setLpf(bool on);
    void setAtt(bool on);

private:
    void setConnectionFieldsEnabled(bool enabled);

    Ui_MainWindow *m_ui;
    // Taken from the combo box once at construction: the host asks for the rate from its own
    // thread, which must not touch a widget. The combo box is disabled and never changes.
    std::atomic<int> m_sampleRateHz{0};
};
