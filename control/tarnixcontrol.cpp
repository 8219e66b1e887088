#include "control/tarnixcontrol.h"

#include "discovery/tarnixsearcher.h"
#include "driver/tarnixdriver.h"
#include "protocol/commands.h"
#include "stream/tarnixdsp.h"

TarnixControl::TarnixControl(QObject *parent) : QObject(parent)
{
    m_searcher = TarnixSearcher::acquire();
    m_output = new TarnixDsp(nullptr);
    m_driver = new TarnixDriver(m_output, nullptr);
}

TarnixControl::TarnixControl(DspAbstract &output, QObject *parent)
    : QObject(parent), m_output(&output), m_ownsOutput(false)
{
    m_searcher = TarnixSearcher::acquire();
    m_driver = new TarnixDriver(m_output, nullptr);
}

TarnixControl::~TarnixControl()
{
    if (m_driver->isConnected())
        m_driver->closeConnection();
    m_receiver = Receiver();
    // The driver stops the sample output while it still exists, so it goes first here, unlike the
    // order the objects were made in: deleting the output first would leave the driver's stream
    // receiver pushing into freed memory if it were still running.
    delete m_driver;
    if (m_ownsOutput)
        delete m_output;
    TarnixSearcher::release(m_searcher); // the last owner's release makes instance() build afresh
}

Receiver TarnixControl::findReceiver(const Receiver &wanted)
{
    return m_searcher->findReceiver(wanted.serial, wanted.port);
}

bool TarnixControl::open(const Receiver &receiver, HostCallback callback)
{
    m_receiver = receiver;
    m_callback = callback;
    return m_driver->connectTo(m_receiver);
}

bool TarnixControl::start(quint16 mode, int rateIndex)
{
    if (!m_driver->startStream(rateIndex, mode, m_callback))
        return false;
    m_driver->setLpfEnabled(m_lpf);
    m_driver->setAttenuatorWord(attenuatorWord(m_attenuator));
    return true;
}

bool TarnixControl::stopStream()
{
    return m_driver->stopStream();
}

void TarnixControl::close()
{
    m_driver->closeConnection();
}

void TarnixControl::setAttenuator(bool on)
{
    m_attenuator = on;
    m_driver->setAttenuatorWord(attenuatorWord(on));
}

void TarnixControl::setLpf(bool on)
{
    m_lpf = on;
    m_driver->setLpfEnabled(on);
}

void TarnixControl::setFrequency(quint32 channel, quint32 hz)
{
    m_driver->setFrequency(channel, double(hz));
}

ReceiverInfo TarnixControl::info(bool *ok)
{
    quint8 block[wire::kDeviceInfoBlockBytes] = {};
    const bool answered = m_driver->isConnected() && m_driver->readDeviceInfo(block);
    if (ok)
        *ok = answered;
    ReceiverInfo record;
    if (answered) {
        record = receiverinfo::fromBlock(block);
        record.name = QStringLiteral("TarnixDDC");
        record.serial = m_receiver.serial;
    }
    return record;
}

bool TarnixControl::readCalibration(CalibrationData *out)
{
    bool crcOk = false;
    return m_driver->readCalibration(out, &crcOk) && crcOk;
}

QList<Receiver> TarnixControl::search(quint16 port)
{
    return m_searcher->search(port);
}
