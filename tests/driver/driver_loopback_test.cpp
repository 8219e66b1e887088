#include "driver/receiverinfo.h"
#include "driver/requests.h"
#include "driver/tarnixdriver.h"
#include "platform/timerresolution.h"
#include "protocol/commands.h"
#include "readoutreplies.h"
#include "stream/dspabstract.h"
#include "stream/tarnixdevice.h"
#include "tests/support/loopbackpeer.h"

#include <QUdpSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

// The driver with its real stream receiver against a scripted receiver on loopback: the plug-in side
// binds 0.0.0.0:P, the peer 127.0.0.2:P, and the driver is told the receiver is 127.0.0.2:P.

namespace {

const QHostAddress kReceiverAddress(QStringLiteral("127.0.0.2"));
const std::array<double, 8> kCalibration = {-20.0, 1, 2, 3, 4, 5, 6, 7};

class RecordingDsp : public DspAbstract
{
public:
    void startOutput(quint16 mode, HostCallback callback) override
    {
        lastMode = mode;
        lastCallback = callback;
        ++starts;
    }
    bool stopOutput() override
    {
        ++stops;
        return true;
    }
    bool pushSamples(const IqPair *, void *, int count, quint8) override
    {
        pairs += count;
        return true;
    }

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<quint16> lastMode{0};
    std::atomic<HostCallback> lastCallback{nullptr};
    std::atomic<long> pairs{0};
};

void EXTIO_CALLBACK hostCallback(int, int, float, void *) {}

quint16 codeOf(const QByteArray &d)
{
    return quint16(wire::codeOf(d));
}

// Answers every command the way a healthy receiver does, except the codes in `silentFor`.
LoopbackPeer::Responder answering(QList<quint16> silentFor = {})
{
    return [silentFor](const QByteArray &request) -> QList<QByteArray> {
        const int code = wire::codeOf(request);
        if (code < 0 || silentFor.contains(quint16(code)))
            return {};
        if (code == wire::kCmdCalibration)
            return {calibrationReply(kCalibration, 1.0000125)};
        if (code == wire::kCmdDeviceInfo)
            return {deviceInfoReply(wire::kDeviceInfoReplyBytes)};
        return {replyHeader(quint16(code), wire::kControlHeaderBytes)};
    };
}

class DriverLoopback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = freeUdpPort();
        ASSERT_NE(port, 0);
        peer = std::make_unique<LoopbackPeer>(kReceiverAddress, port, answering());
        ASSERT_TRUE(peer->startBound());
        receiver.address = kReceiverAddress;
        receiver.port = port;
        receiver.serial = QStringLiteral("RVD010a1f00123");
        ASSERT_TRUE(driver.connectTo(receiver));
    }

    QList<quint16> codesReceived() const
    {
        QList<quint16> codes;
        for (const auto &a : peer->arrivals())
            codes.append(codeOf(a.datagram));
        return codes;
    }

    // Sends a filter command as a marker and waits until it arrived: everything submitted before it
    // has arrived by then, since the path keeps order.
    void flushWithMarker()
    {
        const int before = peer->arrivalsWithCode(wire::kCmdLpf).size();
        driver.setLpfEnabled(false);
        ASSERT_TRUE(waitUntil([&] { return peer->arrivalsWithCode(wire::kCmdLpf).size() > before; }));
    }

    quint16 port = 0;
    std::unique_ptr<LoopbackPeer> peer;
    Receiver receiver;
    RecordingDsp dsp;
    TarnixDriver driver{&dsp};
};

} // namespace

TEST_F(DriverLoopback, StartSendsItsSequenceAndASecondStartSendsNothing)
{
    driver.setAttenuatorWord(5);
    EXPECT_FALSE(driver.attenuatorOn());
    ASSERT_TRUE(driver.startStream(3, 1, hostCallback));
    EXPECT_TRUE(driver.isStreaming());
    EXPECT_EQ(dsp.starts, 1);
    EXPECT_EQ(dsp.lastMode, 1);
    EXPECT_EQ(dsp.lastCallback.load(), &hostCallback);

    const auto arrivals = peer->arrivals();
    ASSERT_EQ(arrivals.size(), 5);
    EXPECT_EQ(arrivals[0].datagram, requests::attenuator(1)); // 5 goes out as 1
    EXPECT_EQ(arrivals[1].datagram, requests::calibrationRead());
    EXPECT_EQ(arrivals[2].datagram, requests::attenuator(1)); // the remembered state again
    EXPECT_EQ(arrivals[3].datagram, requests::lowPassFilter(true));
    EXPECT_EQ(arrivals[4].datagram, requests::startStream(3, 1));
    EXPECT_NEAR(driver.calibration().correctionPercent, 0.00125, 1e-12);

    EXPECT_TRUE(driver.startStream(3, 1, hostCallback));
    flushWithMarker();
    EXPECT_EQ(peer->arrivals().size(), 6);
    EXPECT_EQ(dsp.starts, 1);
}

TEST_F(DriverLoopback, AttenuatorOnIsRememberedForTheNextStart)
{
    driver.setAttenuatorWord(0);
    EXPECT_TRUE(driver.attenuatorOn());
    ASSERT_TRUE(driver.startStream(2, 1, hostCallback));
    const auto attenuator = peer->arrivalsWithCode(wire::kCmdAttenuator);
    ASSERT_EQ(attenuator.size(), 2);
    EXPECT_EQ(attenuator[1].datagram, requests::attenuator(0));
}

TEST_F(DriverLoopback, TuningUsesChannelsZeroAndOneAndAppliesTheCalibrationGain)
{
    ASSERT_TRUE(driver.startStream(1, 1, hostCallback));
    driver.setFrequency(2, 7200000.0);
    driver.setFrequency(0, 7200000.0);
    driver.setFrequency(1, 900000000.0);
    flushWithMarker();
    const auto tuning = peer->arrivalsWithCode(wire::kCmdTuning);
    ASSERT_EQ(tuning.size(), 2);
    EXPECT_EQ(tuning[0].datagram, requests::tuning(0, 7200000.0));
    EXPECT_EQ(tuning[1].datagram, requests::tuning(1, 800000000.0));
    // Calibration value 0 is -20 dB: a tenth of full scale.
    EXPECT_EQ(driver.device()->gain(), 214748364);
}

TEST_F(DriverLoopback, UnansweredStartIsSentSixTimesAboutItsTimeoutApart)
{
    peer->setResponder(answering({wire::kCmdStartStream}));
    EXPECT_FALSE(driver.startStream(3, 1, hostCallback));
    // Not started: a later start asks again instead of taking the stream as running.
    EXPECT_FALSE(driver.isStreaming());

    const auto starts = peer->arrivalsWithCode(wire::kCmdStartStream);
    ASSERT_EQ(starts.size(), 6);
    // The timeout runs from the moment the copy before left, so no resend comes sooner (the
    // arrival stamps are whole milliseconds); a busy machine may make one later.
    for (int i = 1; i < starts.size(); ++i) {
        const qint64 gap = starts[i].atMs - starts[i - 1].atMs;
        EXPECT_GE(gap, 19) << "resend " << i;
        EXPECT_LE(gap, 1000) << "resend " << i;
    }
}

TEST_F(DriverLoopback, OneTuningReplyFinishesBothPendingTunings)
{
    // The reply goes out only once both tunings are there, so both are pending when it arrives.
    std::atomic<int> tunings{0};
    peer->setResponder([&tunings](const QByteArray &request) -> QList<QByteArray> {
        if (wire::codeOf(request) == wire::kCmdTuning && ++tunings == 2)
            return {replyHeader(wire::kCmdTuning, wire::kControlHeaderBytes)};
        return {};
    });
    driver.setFrequency(0, 1e6);
    driver.setFrequency(0, 2e6);
    // An unanswered calibration read lasts six of its timeouts, far longer than a tuning resend.
    bool crcOk = false;
    EXPECT_FALSE(driver.readCalibration(nullptr, &crcOk));
    EXPECT_EQ(peer->arrivalsWithCode(wire::kCmdCalibration).size(), 6);
    EXPECT_EQ(peer->arrivalsWithCode(wire::kCmdTuning).size(), 2);
}

TEST_F(DriverLoopback, DiscardDatagramsAreConsumedWithoutEffect)
{
    QByteArray discard = replyHeader(wire::kCodeDiscard, wire::kControlHeaderBytes);
    peer->setResponder([discard](const QByteArray &request) -> QList<QByteArray> {
        if (wire::codeOf(request) == wire::kCmdDeviceInfo)
            return {discard, discard, deviceInfoReply(wire::kDeviceInfoReplyBytes)};
        return {};
    });
    quint8 block[36] = {};
    EXPECT_TRUE(driver.readDeviceInfo(block));
    EXPECT_EQ(peer->arrivalsWithCode(wire::kCmdDeviceInfo).size(), 1);
}

TEST_F(DriverLoopback, CalibrationReadStoresOnlyValidData)
{
    CalibrationData stored;
    bool crcOk = false;
    ASSERT_TRUE(driver.readCalibration(&stored, &crcOk));
    EXPECT_TRUE(crcOk);
    EXPECT_EQ(driver.calibration().calibration, kCalibration);

    QByteArray tampered = calibrationReply({1, 1, 1, 1, 1, 1, 1, 1}, 2.0);
    tampered[30] = char(tampered[30] ^ 0x40);
    const QByteArray status0 = withStatus(calibrationReply({1, 1, 1, 1, 1, 1, 1, 1}, 2.0), 0);
    const struct
    {
        const char *what;
        QByteArray reply;
        bool result;
        bool crcWritten;
    } cases[] = {
        {"crc mismatch", tampered, true, true},
        {"status 0", status0, false, false},
        {"short", calibrationReply(kCalibration, 1.0).left(93), false, false},
    };
    for (const auto &c : cases) {
        const QByteArray reply = c.reply;
        peer->setResponder([reply](const QByteArray &) { return QList<QByteArray>{reply}; });
        CalibrationData out = stored;
        crcOk = true;
        EXPECT_EQ(driver.readCalibration(&out, &crcOk), c.result) << c.what;
        EXPECT_EQ(crcOk, !c.crcWritten) << c.what;
        EXPECT_EQ(out.calibration, kCalibration) << c.what;
        EXPECT_EQ(driver.calibration().calibration, kCalibration) << c.what;
    }
}

TEST_F(DriverLoopback, DeviceInfoNeedsExactlyFiftyFourBytes)
{
    for (const int length : {53, 55, 54}) {
        peer->setResponder(
            [length](const QByteArray &) { return QList<QByteArray>{deviceInfoReply(length)}; });
        quint8 block[36];
        std::memset(block, 0xEE, sizeof block);
        const bool ok = driver.readDeviceInfo(block);
        EXPECT_EQ(ok, length == 54) << length;
        if (ok) {
            EXPECT_EQ(receiverinfo::fromBlock(block).id, QStringLiteral("RVD01ff0000007"));
        } else {
            EXPECT_EQ(block[0], 0xEE) << length << ": block written on failure";
        }
    }
}

TEST_F(DriverLoopback, CloseKeepsStreamingAndTheNextConnectionStillStops)
{
    ASSERT_TRUE(driver.startStream(3, 1, hostCallback));
    EXPECT_FALSE(driver.connectTo(receiver)); // already connected
    driver.closeConnection();
    EXPECT_FALSE(driver.isConnected());
    EXPECT_TRUE(driver.isStreaming());
    EXPECT_EQ(dsp.stops, 1);
    EXPECT_FALSE(driver.stopStream()); // not connected: nothing sent
    EXPECT_TRUE(driver.isStreaming());

    ASSERT_TRUE(driver.connectTo(receiver));
    EXPECT_TRUE(driver.stopStream());
    EXPECT_FALSE(driver.isStreaming());
    EXPECT_EQ(dsp.stops, 2);
    EXPECT_EQ(peer->arrivalsWithCode(wire::kCmdStopStream).size(), 1);

    EXPECT_FALSE(driver.stopStream()); // not streaming
    flushWithMarker();
    EXPECT_EQ(peer->arrivalsWithCode(wire::kCmdStopStream).size(), 1);
}

TEST(DriverIdle, CommandsWithoutAConnectionSendNothingAndReturnAtOnce)
{
    RecordingDsp dsp;
    TarnixDriver driver(&dsp);
    driver.setAttenuatorWord(0);
    EXPECT_FALSE(driver.attenuatorOn());
    driver.setLpfEnabled(true);
    driver.setFrequency(0, 7e6);
    bool crcOk = true;
    CalibrationData out;
    EXPECT_FALSE(driver.readCalibration(&out, &crcOk));
    EXPECT_TRUE(crcOk);
    EXPECT_FALSE(driver.readDeviceInfo(nullptr));
    EXPECT_FALSE(driver.stopStream());
    EXPECT_FALSE(driver.startStream(1, 1, hostCallback));
    EXPECT_FALSE(driver.isStreaming());
    EXPECT_EQ(dsp.starts, 0);
}

// Windows runs the whole machine's timer at 1 ms while any process asks for it, at a cost in power:
// the request must be held while connected and given back on every way out.
TEST(DriverIdle, PortThatCannotBeBoundLeavesTheDriverIdleAndTheTimerAlone)
{
    const quint16 port = freeUdpPort();
    ASSERT_NE(port, 0);
    auto holder = std::make_unique<QUdpSocket>();
    ASSERT_TRUE(holder->bind(QHostAddress::AnyIPv4, port, QUdpSocket::DontShareAddress));
    RecordingDsp dsp;
    Receiver r;
    r.address = kReceiverAddress;
    r.port = port;
    {
        TarnixDriver driver(&dsp);
        EXPECT_FALSE(driver.connectTo(r));
        EXPECT_FALSE(driver.isConnected());
        EXPECT_EQ(platform::fineTimerRequests(), 0);

        holder.reset();
        ASSERT_TRUE(driver.connectTo(r));
        EXPECT_EQ(platform::fineTimerRequests(), 1);
        driver.closeConnection();
        EXPECT_EQ(platform::fineTimerRequests(), 0);
        ASSERT_TRUE(driver.connectTo(r));
    } // destroyed while connected
    EXPECT_EQ(platform::fineTimerRequests(), 0);
}
