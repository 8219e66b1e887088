// The plug-in end to end as a host drives it: the probe loads the shared library in the host
// namespace of scripts/netns-run and the simulator plays two receivers in the receiver namespace.
// Anywhere else these tests skip, so nothing is ever broadcast on the machine's own network.
#include "protocol/commands.h"
#include "protocol/stream.h"
#include "tests/support/probe.h"
#include "tests/support/simprocess.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>

#include <gtest/gtest.h>

namespace {

const QString kIni = QStringLiteral("TarnixDDC_settings.ini");
constexpr int kProbeTimeoutMs = 90000;
constexpr quint16 kDiscoveryCode = 0x1A00; // the request opens 12 FF 00 1A

QStringList receiverAddresses()
{
    return QProcessEnvironment::systemEnvironment()
        .value(QStringLiteral("TARNIX_RX_ADDRS"))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Field k of a "blocks" result: "N bad=B hostthread=H jumps=J undecodable=U".
long field(const QString &blocks, const char *name)
{
    for (const QString &f : blocks.split(QLatin1Char(' '))) {
        if (!name && !f.contains(QLatin1Char('=')))
            return f.toLong();
        if (name && f.startsWith(QLatin1String(name) + QLatin1Char('=')))
            return f.section(QLatin1Char('='), 1).toLong();
    }
    return -1;
}

struct Command
{
    quint16 code;
    int receiver;
    qint64 tUs;
    QByteArray bytes;
};

// The control traffic the simulator saw, in order, without stream acknowledgements and without
// resends: those the simulator marked (a late reply gets a whole group of waiting commands sent
// again) and repeats of the same datagram in a row.
QList<Command> commandsOf(const QList<SimLogEntry> &log)
{
    QList<Command> out;
    for (const SimLogEntry &e : log) {
        if (e.code == wire::kCodeStream || e.length == wire::kAckBytes || e.resend)
            continue;
        if (!out.isEmpty() && out.last().bytes == e.bytes && out.last().receiver == e.receiver)
            continue;
        out.append({quint16(e.code), e.receiver, e.tUs, e.bytes});
    }
    return out;
}

QList<quint16> codes(const QList<Command> &commands)
{
    QList<quint16> out;
    for (const Command &c : commands)
        out << c.code;
    return out;
}

quint32 u32At(const QByteArray &d, int at)
{
    return d.size() >= at + 4 ? wire::readU32(d, at) : 0xFFFFFFFFu;
}

class PluginInNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("TARNIX_NETNS_HOST"))
            GTEST_SKIP() << "needs the namespaces of scripts/netns-run";
        m_addresses = receiverAddresses();
        ASSERT_EQ(m_addresses.size(), 2);
        ASSERT_TRUE(m_dir.isValid());
    }

    void startSim(const QStringList &extra = {})
    {
        QStringList args{QStringLiteral("--receiver"), m_addresses[0] + ",serial=123,a=0x0A,b=0x1F",
                         QStringLiteral("--receiver"), m_addresses[1] + ",serial=456,a=0x0B,b=0x2C",
                         QStringLiteral("--signal"),   QStringLiteral("pattern")};
        ASSERT_TRUE(m_sim.start(args + extra)) << m_sim.errorString().toStdString();
    }

    void writeSettings(int sampleRateId, const QByteArray &serial)
    {
        QSettings s(m_dir.filePath(kIni), QSettings::IniFormat);
        s.setValue("SampleRateID", sampleRateId);
        s.setValue("Use_LPF", true);
        s.setValue("Use_ATT", false);
        s.setValue("Serial", serial);
    }

    QByteArray storedSerial() const
    {
        return QSettings(m_dir.filePath(kIni), QSettings::IniFormat).value("Serial").toByteArray();
    }

    QStringList m_addresses;
    QTemporaryDir m_dir;
    SimProcess m_sim;
};

} // namespace

TEST_F(PluginInNetwork, StreamRetuneStopAndStartAgainWithoutLoss)
{
    startSim();
    // The lowest rate keeps the FIFO's slack long enough for a machine slowed by sanitizers.
    writeSettings(0, QByteArray());
    const ProbeRun run =
        runProbe(m_dir.path(), {"init",          "open",          "callback",      "sr",
                                "show",          "start:7200000", "wait:1500",     "blocks",
                                "setlo:7100000", "setlo:7100000", "wait:500",      "blocks",
                                "stop",          "wait:200",      "blocks",        "wait:300",
                                "blocks",        "newstream",     "start:7100000", "wait:1000",
                                "blocks",        "stop",          "hide",          "close",
                                "unload"},
                 kProbeTimeoutMs);
    ASSERT_TRUE(m_sim.stop());
    ASSERT_FALSE(run.timedOut);
    ASSERT_FALSE(run.crashed) << run.errors.toStdString();
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();

    EXPECT_EQ(run.result("sr"), "78125");
    EXPECT_EQ(run.result("start:7200000"), "2048");
    EXPECT_EQ(run.result("start:7100000"), "2048");
    const QString streaming = run.result("blocks", 0), retuned = run.result("blocks", 1);
    const QString stopped = run.result("blocks", 2), later = run.result("blocks", 3);
    const QString second = run.result("blocks", 4);
    EXPECT_GT(field(streaming, nullptr), 10) << streaming.toStdString();
    EXPECT_GT(field(retuned, nullptr), field(streaming, nullptr));
    // Nothing arrives once StopHW has returned.
    EXPECT_EQ(field(stopped, nullptr), field(later, nullptr)) << stopped.toStdString();
    EXPECT_GT(field(second, nullptr), field(later, nullptr) + 5) << second.toStdString();
    // Every block: 2048 pairs, status 0, offset 0.0, never on the host's thread, no gap, no repeat.
    for (const QString &b : {streaming, retuned, stopped, later, second}) {
        EXPECT_EQ(field(b, "bad"), 0) << b.toStdString();
        EXPECT_EQ(field(b, "hostthread"), 0) << b.toStdString();
        EXPECT_EQ(field(b, "jumps"), 0) << b.toStdString();
        EXPECT_EQ(field(b, "undecodable"), 0) << b.toStdString();
    }
    // With no serial in the panel the first receiver that answered is used, and remembered.
    EXPECT_EQ(storedSerial(), QByteArray("RVD010a1f00123"));

    const QList<Command> commands = commandsOf(m_sim.log());
    const QList<quint16> expected{
        kDiscoveryCode, wire::kCmdCalibration, wire::kCmdAttenuator, wire::kCmdLpf, wire::kCmdStartStream,
        wire::kCmdLpf, wire::kCmdAttenuator, wire::kCmdTuning, wire::kCmdAttenuator, wire::kCmdLpf,
        // Retuning to the same frequency twice tunes once.
        wire::kCmdTuning, wire::kCmdStopStream,
        // The second start: the frequency is already the stored one, so only open() tunes.
        kDiscoveryCode, wire::kCmdCalibration, wire::kCmdAttenuator, wire::kCmdLpf, wire::kCmdStartStream,
        wire::kCmdLpf, wire::kCmdAttenuator, wire::kCmdTuning, wire::kCmdAttenuator, wire::kCmdLpf,
        wire::kCmdStopStream};
    ASSERT_EQ(codes(commands), expected);
    for (const Command &c : commands) {
        if (c.code != kDiscoveryCode) {
            EXPECT_EQ(c.receiver, 0) << "command 0x" << std::hex << c.code;
        }
    }

    // The values: attenuator off (1), filter on then the controller's stored off, then the panel's on.
    EXPECT_EQ(u32At(commands[2].bytes, 18), 1u);
    EXPECT_EQ(u32At(commands[3].bytes, 18), 1u);
    EXPECT_EQ(u32At(commands[5].bytes, 18), 0u);
    EXPECT_EQ(u32At(commands[6].bytes, 18), 1u);
    EXPECT_EQ(u32At(commands[8].bytes, 18), 1u);
    EXPECT_EQ(u32At(commands[9].bytes, 18), 1u);
    // Start for rate index 1 (78125 S/s), mode 1.
    const QByteArray start = commands[4].bytes;
    ASSERT_EQ(start.size(), wire::kStartStreamBytes);
    const quint32 stages[] = {10, 8, 5, 3, 2, 2, 2, 1};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(u32At(start, 18 + 4 * k), stages[k]) << "stage " << k + 1;
    EXPECT_EQ(wire::readU16(start, 54), 1);
    EXPECT_EQ(wire::readU16(start, 56), 1);
    EXPECT_EQ(wire::readU16(start, 58), 1);
    // Tuning to 7.2 MHz in 0.1 Hz units, about 50 ms after the start command.
    const QByteArray tune = commands[7].bytes;
    ASSERT_EQ(tune.size(), wire::kTuningBytes);
    EXPECT_EQ(wire::readU64(tune, 18), 72000000ull);
    EXPECT_GE(commands[7].tUs - commands[4].tUs, 45000);
    EXPECT_EQ(wire::readU64(commands[10].bytes, 18), 71000000ull);
}

TEST_F(PluginInNetwork, TheSerialInThePanelPicksTheReceiverElseTheFirstAnswer)
{
    startSim();
    struct Case
    {
        QByteArray serial;
        int receiver;
    };
    const Case cases[] = {{"RVD010b2c00456", 1}, {"RVD01ffff99999", 0}};
    int from = 0;
    for (const Case &c : cases) {
        writeSettings(1, c.serial);
        const ProbeRun run =
            runProbe(m_dir.path(), {"open", "start:7200000", "stop", "close"}, kProbeTimeoutMs);
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
        EXPECT_EQ(run.result("start:7200000"), "2048") << c.serial.constData();
        const QList<Command> commands = commandsOf(m_sim.log()).mid(from);
        from += commands.size();
        int started = 0;
        for (const Command &cmd : commands) {
            if (cmd.code == wire::kCmdStartStream) {
                EXPECT_EQ(cmd.receiver, c.receiver) << c.serial.constData();
                ++started;
            }
        }
        EXPECT_EQ(started, 1) << c.serial.constData();
        EXPECT_EQ(storedSerial(), c.receiver ? QByteArray("RVD010b2c00456") : QByteArray("RVD010a1f00123"));
    }
    ASSERT_TRUE(m_sim.stop());
}

TEST_F(PluginInNetwork, NoReceiverAnsweringFailsStartHW)
{
    // No simulator: the discovery broadcast goes unanswered inside the namespace.
    writeSettings(2, QByteArray());
    const ProbeRun run = runProbe(
        m_dir.path(), {"open", "callback", "start:7200000", "blocks", "stop", "close"}, kProbeTimeoutMs);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.result("start:7200000"), "-1");
    EXPECT_EQ(field(run.result("blocks"), nullptr), 0);
    EXPECT_LT(run.millis("start:7200000"), 5000);
}

namespace {

// Everything after the first start command: resends of it, then what followed.
QList<quint16> codesAfterFirstStart(const QList<Command> &commands)
{
    QList<quint16> after;
    bool started = false;
    for (const Command &c : commands) {
        if (started)
            after << c.code;
        started = started || c.code == wire::kCmdStartStream;
    }
    return after;
}

} // namespace

TEST_F(PluginInNetwork, ClosingNeverHangsWhileTheCallbackCallsExports)
{
    startSim();
    writeSettings(2, QByteArray());
    // CloseHW from a second host thread at many moments: during the search, the start, the settling
    // wait and while streaming, with a callback that asks for the rate on every block and retunes.
    QStringList calls{"busycallback:312500"};
    const int delaysMs[] = {0, 100, 250, 300, 340, 380, 420, 460, 520, 600, 750, 1000};
    for (const int delay : delaysMs)
        calls << "open" << QStringLiteral("later:%1:close").arg(delay) << "start:7200000"
              << "join";
    calls << "blocks";
    const ProbeRun run = runProbe(m_dir.path(), calls, kProbeTimeoutMs);
    ASSERT_TRUE(m_sim.stop());
    ASSERT_FALSE(run.timedOut) << "hung; last lines: "
                               << run.lines.mid(run.lines.size() - 3).join(" / ").toStdString();
    ASSERT_FALSE(run.crashed) << run.errors.toStdString();
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();

    int streamed = 0;
    for (int k = 0; k < int(std::size(delaysMs)); ++k) {
        const QString started = run.result("start:7200000", k);
        EXPECT_TRUE(started == "2048" || started == "-1") << started.toStdString();
        streamed += started == "2048";
        EXPECT_LT(run.millis("close", k), 5000);
    }
    EXPECT_GT(streamed, 0);
    const QString blocks = run.result("blocks");
    EXPECT_GT(field(blocks, "fromcallback"), 0) << blocks.toStdString();
    EXPECT_EQ(field(blocks, "ratewrong"), 0) << blocks.toStdString();
    EXPECT_EQ(field(blocks, "bad"), 0) << blocks.toStdString();
}

TEST_F(PluginInNetwork, AStartTheReceiverNeverAnswersFailsAndSendsNothingMore)
{
    // Answers the search and every command but the start, like a receiver busy with another client.
    startSim({QStringLiteral("--ignore-cmd"), QStringLiteral("0x0001")});
    writeSettings(2, QByteArray());
    const ProbeRun run = runProbe(
        m_dir.path(),
        {"open", "callback", "start:7200000", "wait:200", "start:7200000", "blocks", "stop", "close"},
        kProbeTimeoutMs);
    ASSERT_TRUE(m_sim.stop());
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.result("start:7200000", 0), "-1");
    // The second StartHW asks the receiver again rather than taking the stream as running.
    EXPECT_EQ(run.result("start:7200000", 1), "-1");
    EXPECT_EQ(field(run.result("blocks"), nullptr), 0);
    const QList<quint16> attempt{kDiscoveryCode, wire::kCmdCalibration, wire::kCmdAttenuator, wire::kCmdLpf,
                                 wire::kCmdStartStream};
    EXPECT_EQ(codes(commandsOf(m_sim.log())), attempt + attempt);
}

TEST_F(PluginInNetwork, AStopFromInsideTheFirstCallbackLeavesTheReceiverClosed)
{
    startSim();
    writeSettings(2, QByteArray());
    // The first block arrives within StartHW's settling wait, so the stop is served inside it.
    const ProbeRun run =
        runProbe(m_dir.path(),
                 {"open", "stopcallback", "start:7200000", "wait:300", "blocks", "wait:200", "blocks",
                  "callback", "newstream", "start:7200000", "wait:300", "blocks", "stop", "close"},
                 kProbeTimeoutMs);
    ASSERT_TRUE(m_sim.stop());
    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.result("start:7200000", 0), "-1") << "stopped while starting, yet reported as running";
    const long delivered = field(run.result("blocks", 0), nullptr);
    EXPECT_GE(delivered, 1);
    EXPECT_EQ(field(run.result("blocks", 1), nullptr), delivered) << "blocks after the stop";
    // After the stop nothing more went out: no tuning, no switches.
    const QList<Command> commands = commandsOf(m_sim.log());
    const QList<quint16> first{wire::kCmdLpf, wire::kCmdAttenuator, wire::kCmdStopStream, kDiscoveryCode};
    EXPECT_EQ(codesAfterFirstStart(commands).mid(0, first.size()), first);
    // And the next start works as usual.
    EXPECT_EQ(run.result("start:7200000", 1), "2048");
    EXPECT_GT(field(run.result("blocks", 2), nullptr), delivered + 5);
    EXPECT_EQ(field(run.result("blocks", 2), "jumps"), 0);
}

TEST_F(PluginInNetwork, ExitAndUnloadWhileStreamingStopTheReceiverAndEndCleanly)
{
    startSim();
    writeSettings(2, QByteArray());
    // No StopHW, no CloseHW: the process ends (or unloads the library) with the stream running.
    const ProbeRun exited =
        runProbe(m_dir.path(), {"open", "busycallback:312500", "show", "start:7200000", "wait:400", "blocks"},
                 kProbeTimeoutMs);
    const ProbeRun unloaded =
        runProbe(m_dir.path(), {"open", "callback", "start:7200000", "wait:400", "unload"}, kProbeTimeoutMs);
    ASSERT_TRUE(m_sim.stop());
    for (const ProbeRun *run : {&exited, &unloaded}) {
        EXPECT_FALSE(run->timedOut);
        EXPECT_FALSE(run->crashed) << run->errors.toStdString();
        EXPECT_EQ(run->exitCode, 0) << run->errors.toStdString();
        EXPECT_EQ(run->result("start:7200000"), "2048");
    }
    EXPECT_GT(field(exited.result("blocks"), nullptr), 5);
    EXPECT_EQ(unloaded.result("unload"), "0");
    // Each stream was stopped on the way out, so the receiver does not stream into the void.
    const QList<quint16> sent = codes(commandsOf(m_sim.log()));
    EXPECT_EQ(sent.count(wire::kCmdStartStream), 2);
    EXPECT_EQ(sent.count(wire::kCmdStopStream), 2);
    EXPECT_EQ(sent.last(), wire::kCmdStopStream);
}
