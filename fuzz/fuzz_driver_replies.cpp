// The control protocol's reply handling without threads: a request engine with blocking read-outs
// and fire-and-forget commands in flight, fed replies, timeouts and sends in an order cut from the
// input; then the answered read-outs are decoded as the driver decodes them.

#include "driver/calibration.h"
#include "driver/controllink.h"
#include "driver/controlrequest.h"
#include "driver/receiverinfo.h"
#include "driver/requestengine.h"
#include "driver/requests.h"
#include "fuzz/fuzzinput.h"
#include "protocol/commands.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxStepsPerInput = 512;
constexpr int kMaxReplyBytes = 160;
constexpr quint64 kCalibrationId = 1;
constexpr quint64 kDeviceInfoId = 2;
constexpr quint16 kCodes[] = {wire::kCmdStartStream, wire::kCmdStopStream,  wire::kCmdAttenuator,
                              wire::kCmdTuning,      wire::kCmdCalibration, wire::kCmdDeviceInfo,
                              wire::kCmdLpf,         wire::kCodeDiscard};

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "reply handling broke a promise: %s\n", what);
        std::abort();
    }
}

ControlRequest *request(QByteArray datagram, bool blocking, quint64 id, bool expireAtOnce)
{
    auto *r = new ControlRequest;
    r->blocking = blocking;
    // A zero timeout makes every pass a resend, so the resend and give-up paths are reached.
    r->timeoutMs = expireAtOnce ? 0 : 60000;
    r->id = id;
    r->datagram = std::move(datagram);
    return r;
}

// Sends at once and has always read the socket up to the present; replies come from the input.
class FuzzLink : public ControlLink
{
public:
    explicit FuzzLink(FuzzInput &in) : m_in(in) {}
    bool send(const QByteArray &d, quint64 tag) override
    {
        check(d.size() >= wire::kControlHeaderBytes, "sends whole commands");
        ++sent;
        m_notes.push_back(tag);
        return true;
    }
    bool takeSent(quint64 *tag, qint64 *sentNs) override
    {
        if (m_notes.empty())
            return false;
        *tag = m_notes.front();
        m_notes.erase(m_notes.begin());
        *sentNs = 0;
        return true;
    }
    bool takeReply(QByteArray &out) override;
    qint64 readUpToNs() const override { return 1; }
    void requestRead() override {}

    int sent = 0;
    int repliesLeft = 0;

private:
    FuzzInput &m_in;
    std::vector<quint64> m_notes;
};

// A control reply: the header with a chosen code and status, then payload bytes from the input.
QByteArray reply(FuzzInput &in)
{
    const quint16 code = kCodes[in.byte() % (sizeof kCodes / sizeof kCodes[0])];
    const int length = in.byte() % kMaxReplyBytes;
    std::vector<uchar> b(size_t(qMax(length, wire::kControlHeaderBytes)), 0);
    b[0] = wire::kSignature0;
    b[1] = wire::kSignature1;
    wire::writeU16(b.data() + wire::kCodeOffset, code);
    wire::writeU32(b.data() + wire::kStatusOffset, in.byte() % 4);
    in.take(b.data() + wire::kControlHeaderBytes, b.size() - size_t(wire::kControlHeaderBytes));
    if (code == wire::kCmdCalibration && length >= wire::kCalibrationReplyBytes && in.byte() % 2) {
        // A CRC the fuzzer could not guess, so the valid path is reached too.
        wire::writeU32(b.data() + 18, quint32(crc32(0L, b.data() + 22, 72)));
    }
    return QByteArray(reinterpret_cast<const char *>(b.data()), length);
}

QByteArray raw(FuzzInput &in)
{
    std::vector<uchar> b(size_t(in.byte() % kMaxReplyBytes));
    in.take(b.data(), b.size());
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

bool FuzzLink::takeReply(QByteArray &out)
{
    if (repliesLeft-- <= 0 || m_in.empty())
        return false;
    out = m_in.byte() % 2 ? reply(m_in) : raw(m_in);
    return true;
}

void decodeCalibration(const ControlRequest &done)
{
    if (done.state != ControlRequest::Answered)
        return;
    check(done.code() == wire::kCmdCalibration, "a read-out is answered only by its own code");
    CalibrationData out;
    out.correctionPercent = 12345.0;
    const auto outcome = calibration::decodeReply(done.datagram, &out);
    const QByteArray &d = done.datagram;
    const bool complete =
        d.size() >= wire::kCalibrationReplyBytes && wire::readU32(d, wire::kStatusOffset) == 1;
    check((outcome == calibration::Outcome::Failed) == !complete,
          "fails exactly the short or refused replies");
    if (outcome != calibration::Outcome::Valid)
        check(out.correctionPercent == 12345.0, "leaves the values alone unless valid");
}

void decodeDeviceInfo(const ControlRequest &done)
{
    if (done.state != ControlRequest::Answered)
        return;
    check(done.code() == wire::kCmdDeviceInfo, "a read-out is answered only by its own code");
    // As the driver does: the block is taken only from a reply of exactly the right size.
    if (done.datagram.size() != wire::kDeviceInfoReplyBytes)
        return;
    const ReceiverInfo info = receiverinfo::fromBlock(wire::bytes(done.datagram) + wire::kControlHeaderBytes);
    check(info.id.startsWith(QLatin1String("RVD01")), "builds the identifier");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t expiry = in.byte();
    RequestEngine engine;
    engine.submit(request(requests::calibrationRead(), true, kCalibrationId, expiry & 1));
    engine.submit(request(requests::deviceInfoRead(), true, kDeviceInfoId, expiry & 2));
    engine.submit(request(requests::tuning(0, 7200000.0), false, 3, expiry & 4));
    engine.submit(request(requests::attenuator(1), false, 4, expiry & 8));
    engine.submit(request(requests::lowPassFilter(true), false, 5, expiry & 16));
    engine.submit(request(requests::startStream(3, 0), false, 6, expiry & 32));

    FuzzLink link(in);
    std::unique_ptr<ControlRequest> calibrationDone, deviceInfoDone;

    for (int n = 0; n < kMaxStepsPerInput && !in.empty(); ++n) {
        switch (in.byte() % 6) {
        case 0:
            engine.replyPass(reply(in));
            break;
        case 1:
            engine.replyPass(raw(in));
            break;
        case 2:
            // Sent at 0, read up to 1 ns: only the requests with a zero timeout are due.
            engine.takeSendTimes(link);
            engine.timeoutPass(link.readUpToNs());
            break;
        case 3:
            engine.drainSendQueue(link);
            break;
        case 4:
            link.repliesLeft = in.byte() % 24;
            engine.runTurn(link);
            break;
        default:
            if (!calibrationDone)
                calibrationDone.reset(engine.takeFinished(kCalibrationId));
            if (!deviceInfoDone)
                deviceInfoDone.reset(engine.takeFinished(kDeviceInfoId));
            break;
        }
        check(engine.queuedCount() + engine.pendingCount() <= 6, "no request is ever duplicated");
    }
    if (!calibrationDone)
        calibrationDone.reset(engine.takeFinished(kCalibrationId));
    if (!deviceInfoDone)
        deviceInfoDone.reset(engine.takeFinished(kDeviceInfoId));
    if (calibrationDone)
        decodeCalibration(*calibrationDone);
    if (deviceInfoDone)
        decodeDeviceInfo(*deviceInfoDone);
    check(link.sent <= 6 * int(1 + RequestEngine::kMaxResends), "sends each command at most six times");
    return 0;
}
