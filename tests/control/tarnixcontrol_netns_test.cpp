// TarnixControl against two simulated receivers, in the host namespace of scripts/netns-run. Anywhere
// else these tests skip, so nothing is ever broadcast on the machine's own network.
#include "control/tarnixcontrol.h"
#include "discovery/tarnixsearcher.h"
#include "protocol/stream.h"
#include "tests/support/simprocess.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>

#include <gtest/gtest.h>

namespace {

constexpr quint16 kPort = 50001;
const QString kFirst = QStringLiteral("RVD010a1f00123");
const QString kSecond = QStringLiteral("RVD010b2c00456");

struct Sent
{
    quint16 code;
    int receiver;
    quint32 value; // the u32 payload of the short commands
};

// Control commands the simulator received since `from`, without acknowledgements, discovery and
// the resends of a late reply.
QList<Sent> commandsSince(const SimProcess &sim, int *from)
{
    const QList<SimLogEntry> log = sim.log();
    QList<Sent> out;
    for (int k = *from; k < log.size(); ++k) {
        const SimLogEntry &e = log[k];
        if (e.receiver < 0 || e.length == wire::kAckBytes || e.code < 0 || e.resend)
            continue;
        const quint32 value = e.bytes.size() >= 22 ? wire::readU32(e.bytes, 18) : 0;
        out.append({quint16(e.code), e.receiver, value});
    }
    *from = log.size();
    return out;
}

// The simulator flushes its log line by line; give it a moment to show what was just sent.
QList<Sent> waitForCommands(const SimProcess &sim, int *from, int count)
{
    QList<Sent> got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        got += commandsSince(sim, from);
        if (got.size() >= count)
            break;
        QThread::msleep(10);
    }
    return got;
}

class ControllerInNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("TARNIX_NETNS_HOST"))
            GTEST_SKIP() << "needs the namespaces of scripts/netns-run";
        const QStringList addrs =
            QProcessEnvironment::systemEnvironment().value("TARNIX_RX_ADDRS").split(' ', Qt::SkipEmptyParts);
        ASSERT_EQ(addrs.size(), 2);
        m_args = QStringList{QStringLiteral("--receiver"),
                             addrs[0] + ",serial=123,a=0x0A,b=0x1F,type=2,major=3,minor=4,flags=0x801,pcb=5",
                             QStringLiteral("--receiver"),
                             addrs[1] + ",serial=456,a=0x0B,b=0x2C",
                             QStringLiteral("--signal"),
                             QStringLiteral("pattern")};
    }

    Receiver wanted(const QString &serial) const
    {
        Receiver r;
        r.serial = serial;
        r.port = kPort;
        return r;
    }

    QStringList m_args;
    SimProcess m_sim;
};

} // namespace

TEST_F(ControllerInNetwork, FindsTheReceiverBySerialElseTheFirstElseNothing)
{
    TarnixControl control;
    EXPECT_TRUE(control.findReceiver(wanted(kSecond)).serial.isEmpty()) << "nobody is answering yet";
    ASSERT_TRUE(m_sim.start(m_args)) << m_sim.errorString().toStdString();
    EXPECT_EQ(control.findReceiver(wanted(kSecond)).serial, kSecond);
    EXPECT_EQ(control.findReceiver(wanted(kFirst)).serial, kFirst);
    const Receiver first = control.findReceiver(wanted(QString()));
    EXPECT_EQ(first.serial, kFirst);
    EXPECT_EQ(first.port, kPort);
    EXPECT_EQ(control.findReceiver(wanted(QStringLiteral("RVD01ffff99999"))).serial, kFirst);
    EXPECT_EQ(control.search(kPort).size(), 2);
}

TEST_F(ControllerInNetwork, StartSendsTheStoredSwitchesAndSettersSendInvertedAttenuator)
{
    ASSERT_TRUE(m_sim.start(m_args)) << m_sim.errorString().toStdString();
    TarnixControl control;
    bool ok = true;
    EXPECT_TRUE(control.info(&ok).id.isEmpty());
    EXPECT_FALSE(ok) << "no connection, no information";

    const Receiver first = control.findReceiver(wanted(kFirst));
    ASSERT_TRUE(control.open(first, nullptr));
    int from = 0;
    commandsSince(m_sim, &from);
    // Right after construction both stored switches are off: the filter goes out as 0 and the
    // attenuator as word 1 after the start command.
    control.start(1, 3);
    QList<Sent> sent = waitForCommands(m_sim, &from, 6);
    ASSERT_GE(sent.size(), 6);
    EXPECT_EQ(sent[3].code, wire::kCmdStartStream);
    // A reply taken late can have a switch sent before the start resent right after it, so the
    // stored switches are the last filter and attenuator commands after the start, in that order.
    for (int k = 0; k < 3 && sent.last().code != wire::kCmdAttenuator; ++k)
        sent += waitForCommands(m_sim, &from, 1);
    int lpfAt = -1, attAt = -1;
    for (int k = 4; k < sent.size(); ++k)
        (sent[k].code == wire::kCmdLpf ? lpfAt : attAt) = k;
    ASSERT_GE(lpfAt, 4);
    ASSERT_GT(attAt, lpfAt);
    EXPECT_EQ(sent[lpfAt].value, 0u);
    EXPECT_EQ(sent[attAt].code, wire::kCmdAttenuator);
    EXPECT_EQ(sent[attAt].value, 1u);

    control.setAttenuator(true);
    control.setAttenuator(false);
    sent = waitForCommands(m_sim, &from, 2);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].code, wire::kCmdAttenuator);
    EXPECT_EQ(sent[0].value, 0u) << "on is sent as 0";
    EXPECT_EQ(sent[1].value, 1u) << "off is sent as 1";

    // A second open is refused and leaves the connection alone, but the record is replaced.
    const Receiver second = control.findReceiver(wanted(kSecond));
    EXPECT_FALSE(control.open(second, nullptr));
    const ReceiverInfo info = control.info(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(info.serial, kSecond) << "the stored record is the second call's";
    EXPECT_EQ(info.id, kFirst) << "the answer still comes from the connected receiver";
    EXPECT_EQ(info.name, QStringLiteral("TarnixDDC"));
    EXPECT_EQ(info.deviceType, 2);
    EXPECT_EQ(info.versionMajor, 3);
    EXPECT_EQ(info.versionMinor, 4);
    EXPECT_EQ(info.statusFlags, 0x801u);
    EXPECT_EQ(info.pcbRevision, 5u);

    EXPECT_TRUE(control.stopStream());
    control.close();
    EXPECT_FALSE(control.stopStream()) << "nothing is streaming any more";
    control.info(&ok);
    EXPECT_FALSE(ok);
    ASSERT_TRUE(m_sim.stop());
}
