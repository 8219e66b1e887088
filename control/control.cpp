#include "control/control.h"

#include "control/tarnixcontrol.h"
#include "extio/callbackholder.h"
#include "ui/mainwindow.h"
#include "ui/tarnixdialog.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

Control::Control(MainWindow *window, QObject *parent) : QObject(parent), m_window(window)
{
    m_receiver.address = QHostAddress(QStringLiteral("192.168.16.100"));
    m_receiver.port = kSearchPort;
    m_controller = new TarnixControl(nullptr);
    m_dialog = new TarnixDialog(window, nullptr);
    connect(window, SIGNAL(changedLpf(bool)), this, SLOT(setLpf(bool)));
    connect(window, SIGNAL(changedAtt(bool)), this, SLOT(setAttenuator(bool)));
    connect(window, SIGNAL(info()), this, SLOT(showInfo()));
    connect(window, SIGNAL(search()), this, SLOT(search()));
}

Control::~Control()
{
    delete m_dialog;
    delete m_controller;
}

void Control::open()
{
    const quint64 closesBefore = m_closes;
    const Receiver wanted = m_window->currentReceiver();
    m_receiver = m_controller->findReceiver(wanted);
    if (m_receiver.serial.isEmpty())
        return;
    m_window->setReceiver(m_receiver);
    const HostCallback callback = CallbackHolder::instance()->get();
    if (!m_controller->open(m_receiver, CallbackHolder::streamEntry(callback)))
        return;
    // Connected, so a new stream starts: from here on it calls this callback.
    CallbackHolder::useForStream(callback);
    if (!m_controller->start(kStartMode, m_window->sampleRateCode())) {
        // The receiver did not take the start (busy with another client, or gone): it is not ours.
        m_controller->close();
        return;
    }

    // Give the receiver time to start streaming before tuning it; host calls are served meanwhile.
    QEventLoop settle;
    QTimer timer;
    // A coarse timer of this length is a WM_TIMER on Windows: rounded to the system's timer tick and
    // sent only when the GUI thread's queue is empty, so the tuning could follow the start late.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.setInterval(kSettleMs);
    connect(&timer, &QTimer::timeout, &settle, &QEventLoop::quit);
    timer.start();
    settle.exec();
    // A stop served during the wait closed everything; it stays closed.
    if (m_closes != closesBefore)
        return;

    m_controller->setFrequency(0, m_frequency);
    m_controller->setAttenuator(m_attenuator);
    m_controller->setLpf(m_lpf);
    m_window->setConnected();
    m_open = true;
}

void Control::close()
{
    ++m_closes;
    m_window->setDisconnected();
    m_controller->stopStream();
    m_controller->close();
    m_open = false;
}

bool Control::isOpen()
{
    return m_open;
}

void Control::setFrequency(quint32 freq)
{
    if (freq == m_frequency)
        return;
    m_frequency = freq;
    m_controller->setFrequency(0, freq);
}

quint32 Control::sampleRate()
{
    return m_sampleRate;
}

void Control::setAttenuator(bool enable)
{
    if (enable == m_attenuator)
        return;
    m_attenuator = enable;
    m_controller->setAttenuator(enable);
}

void Control::setLpf(bool enable)
{
    if (enable == m_lpf)
        return;
    m_lpf = enable;
    m_controller->setLpf(enable);
}

QString Control::infoText(const ReceiverInfo &info)
{
    QString text;
    if (info.deviceType == 2)
        text += QStringLiteral("Receiver: TarnixDDC\n");
    text += QStringLiteral("Serial: ") + info.id + QLatin1Char('\n');
    text += QStringLiteral("Version: %1.%2\n").arg(info.versionMajor).arg(info.versionMinor);
    text += QStringLiteral("PCB revision: %1\n").arg(info.pcbRevision);
    if (!(info.statusFlags & ReceiverInfo::PllPresent)) {
        text += QStringLiteral("PLL: NO");
        return text;
    }
    text += QStringLiteral("PLL: support\n");
    const auto okNo = [&](quint32 bit) {
        return (info.statusFlags & bit) ? QStringLiteral("OK\n") : QStringLiteral("NO\n");
    };
    text += QStringLiteral("\tReference mode: ") + ((info.statusFlags & ReceiverInfo::RefModeInternal)
                                                        ? QStringLiteral("Internal\n")
                                                        : QStringLiteral("External\n"));
    text += QStringLiteral("\tInternal reference: ") + okNo(ReceiverInfo::IntRefOk);
    text += QStringLiteral("\tExternal reference: ") + okNo(ReceiverInfo::ExtRefOk);
    text += QStringLiteral("\tPLL1 Lock: ") + okNo(ReceiverInfo::Pll1Lock);
    text += QStringLiteral("\tPLL2 Lock: ") + okNo(ReceiverInfo::Pll2Lock);
    text += QStringLiteral("\tPLL2 REF clock: ") + okNo(ReceiverInfo::Pll2RefClockOk);
    text += QStringLiteral("\tPLL2 FB  clock: ") + okNo(ReceiverInfo::Pll2FbClockOk);
    text += QStringLiteral("\tVCXO status: ") + okNo(ReceiverInfo::VcxoOk);
    return text;
}

void Control::showInfo()
{
    if (!m_open) {
        QMessageBox::warning(m_window, tr("TarnixDDC ExtIO"), tr("TarnixDDC ExtIO not started!"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    const ReceiverInfo info = m_controller->info();
    auto *box = new QMessageBox();
    box->setText(QStringLiteral("Information.\t\t\t\t\t"));
    box->setInformativeText(infoText(info));
    box->setMinimumWidth(500);
    box->exec();
    box->deleteLater();
}

void Control::search()
{
    m_dialog->showReceivers(m_controller->search(kSearchPort));
}
