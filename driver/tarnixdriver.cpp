#include "driver/tarnixdriver.h"

#include "driver/controllink.h"
#include "driver/controlrequest.h"
#include "driver/requests.h"
#include "platform/clock.h"
#include "platform/passtrace.h"
#include "platform/priority.h"
#include "platform/tsanannotate.h"
#include "protocol/commands.h"
#include "stream/dspabstract.h"
#include "stream/tarnixdevice.h"

#include <cstring>
#include <memory>

TarnixDriver::TarnixDriver(DspAbstract *dsp, QObject *parent)
    : QThread(parent), m_dsp(dsp), m_device(new TarnixDevice(dsp, nullptr))
{
    m_device->setReplyWakeup(&m_work);
}

TarnixDriver::~TarnixDriver()
{
    if (m_streaming)
        stopStream();
    if (m_running)
        stopConnection();
    delete m_device;
}

bool TarnixDriver::connectTo(const Receiver &receiver)
{
    if (m_running)
        return false;
    m_receiver = receiver;
    if (!m_device->startReceiving(receiver.address, receiver.port))
        return false;
    m_running = true;
    start(QThread::TimeCriticalPriority);
    return true;
}

void TarnixDriver::closeConnection()
{
    // The streaming flag stays: a later stopStream on a new connection still tells the receiver.
    stopConnection();
}

void TarnixDriver::stopConnection()
{
    m_device->stopReceiving();
    if (m_dsp)
        m_dsp->stopOutput();
    m_running = false;
    m_work.notify();
    wait();
    // QThread::wait() hands over inside Qt, where ThreadSanitizer cannot see it (see run()).
    platform::tsanAcquire(this);
    // Every thread of the connection has ended: the test build writes down how they ran.
    platform::passtrace::flush();
}

namespace {

// The stream receiver as the request engine's link to the socket.
class DeviceLink : public ControlLink
{
public:
    explicit DeviceLink(TarnixDevice *device) : m_device(device) {}
    bool send(const QByteArray &datagram, quint64 tag) override
    {
        return m_device->queueControl(datagram, tag);
    }
    bool takeSent(quint64 *tag, qint64 *sentNs) override { return m_device->takeSent(tag, sentNs); }
    bool takeReply(QByteArray &out) override { return m_device->takeReply(out); }
    qint64 readUpToNs() const override { return m_device->readUpToNs(); }
    void requestRead() override { m_device->requestRead(); }

private:
    TarnixDevice *m_device;
};

} // namespace

void TarnixDriver::run()
{
    // Started time-critical, which Qt cannot give a thread on Linux: raised as the stream thread is.
    platform::raiseCurrentThreadPriority();
    DeviceLink link(m_device);
    platform::passtrace::Passes passes(platform::passtrace::Driver);
    while (m_running) {
        const bool repliesLeft = m_engine.runTurn(link);
        const int waitMs = repliesLeft ? 0 : m_engine.msUntilDue(link, platform::monotonicNs(), kMaxWaitMs);
        if (waitMs > 0) {
            passes.waitBegins(waitMs);
            std::int64_t notifiedUs = -1;
            m_work.wait(waitMs, &notifiedUs);
            passes.waitEnded(notifiedUs);
        }
    }
    // Everything this thread did comes before the return of a wait for it.
    platform::tsanRelease(this);
}

ControlRequest *TarnixDriver::buildRequest(QByteArray datagram, bool blocking, quint32 timeoutMs)
{
    auto *r = new ControlRequest;
    r->blocking = blocking;
    r->timeoutMs = timeoutMs;
    r->id = m_requestCounter++;
    r->datagram = std::move(datagram);
    return r;
}

ControlRequest *TarnixDriver::submit(ControlRequest *request)
{
    // Read before handing over: a fire-and-forget request may be gone as soon as it is queued.
    const bool blocking = request->blocking;
    const quint64 id = request->id;
    m_engine.submit(request);
    m_work.notify();
    return blocking ? waitFor(id) : nullptr;
}

ControlRequest *TarnixDriver::waitFor(quint64 id)
{
    // No deadline of its own: the driver thread fails the request after its last resend.
    for (;;) {
        if (ControlRequest *done = m_engine.takeFinished(id))
            return done;
        platform::sleepMs(kWaitPollMs);
    }
}

bool TarnixDriver::startStream(int rateIndex, quint16 mode, HostCallback callback)
{
    if (m_streaming)
        return true;
    // Without a running driver thread the start request would never finish and the wait never end.
    if (!m_running)
        return false;
    bool crcOk = false;
    readCalibration(&m_calibration, &crcOk);
    setAttenuatorWord(m_attenuatorOn ? 0 : 1);
    setLpfEnabled(true);
    ControlRequest *request =
        buildRequest(requests::startStream(rateIndex, mode), true, requests::kReplyTimeoutMs);
    m_streaming = true;
    if (m_dsp)
        m_dsp->startOutput(mode, callback);
    std::unique_ptr<ControlRequest> done(submit(request));
    if (done->state == ControlRequest::Answered)
        return true;
    // Unanswered after every resend: the receiver did not start (busy with another client, or
    // gone). Nothing will arrive, and the next start must ask again rather than take it as running.
    m_streaming = false;
    if (m_dsp)
        m_dsp->stopOutput();
    return false;
}

bool TarnixDriver::stopStream()
{
    if (!m_streaming || !m_running)
        return false;
    m_streaming = false;
    std::unique_ptr<ControlRequest> done(
        submit(buildRequest(requests::stopStream(), true, requests::kReplyTimeoutMs)));
    if (m_dsp)
        m_dsp->stopOutput();
    return done->state == ControlRequest::Answered;
}

void TarnixDriver::setAttenuatorWord(quint32 value)
{
    if (!m_running)
        return;
    const quint32 wireValue = value > 1 ? 1 : value;
    m_attenuatorOn = value == 0;
    submit(buildRequest(requests::attenuator(wireValue), false, requests::kReplyTimeoutMs));
}

void TarnixDriver::setLpfEnabled(bool enable)
{
    if (!m_running)
        return;
    submit(buildRequest(requests::lowPassFilter(enable), false, requests::kReplyTimeoutMs));
}

void TarnixDriver::setFrequency(quint32 channel, double hz)
{
    if (!m_running || channel > 1)
        return;
    submit(buildRequest(requests::tuning(channel, hz), false, requests::kReplyTimeoutMs));
    m_device->setGain(m_calibration.calibration[0]);
}

bool TarnixDriver::readCalibration(CalibrationData *out, bool *crcOk)
{
    if (!m_running)
        return false;
    std::unique_ptr<ControlRequest> done(
        submit(buildRequest(requests::calibrationRead(), true, requests::kCalibrationTimeoutMs)));
    if (done->state != ControlRequest::Answered)
        return false;

    CalibrationData decoded;
    const calibration::Outcome outcome = calibration::decodeReply(done->datagram, out ? &decoded : nullptr);
    if (outcome == calibration::Outcome::Failed)
        return false;
    if (out) {
        const bool valid = outcome == calibration::Outcome::Valid;
        if (crcOk)
            *crcOk = valid;
        if (valid) {
            *out = decoded;
            m_calibration = decoded;
        }
    }
    return true;
}

bool TarnixDriver::readDeviceInfo(quint8 *block)
{
    // Not connected: nothing would ever answer and the wait would not end.
    if (!m_running)
        return false;
    std::unique_ptr<ControlRequest> done(
        submit(buildRequest(requests::deviceInfoRead(), true, requests::kDeviceInfoTimeoutMs)));
    if (done->datagram.size() != wire::kDeviceInfoReplyBytes)
        return false;
    const bool answered = done->state == ControlRequest::Answered;
    if (block) {
        if (answered)
            std::memcpy(block, done->datagram.constData() + wire::kControlHeaderBytes,
                        wire::kDeviceInfoBlockBytes);
        else
            std::memset(block, 0, wire::kDeviceInfoBlockBytes);
    }
    return answered;
}
