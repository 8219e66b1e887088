// The simulator as a process on loopback, seen by a plain-socket client: discovery, commands and the
// faults that touch them, the window and its retransmissions, the summary and the log.

#include "protocol/commands.h"
#include "protocol/stream.h"
#include "tests/support/simprocess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWaitMs = 3000;

class PlainClient
{
public:
    explicit PlainClient(const QHostAddress &local = QHostAddress::LocalHost)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = at(local, 0);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ~PlainClient() { ::close(m_fd); }

    void send(const QByteArray &d, const QHostAddress &to, quint16 port)
    {
        const sockaddr_in a = at(to, port);
        ::sendto(m_fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr *>(&a), sizeof a);
    }
    // The next datagram within timeoutMs, or an empty array.
    QByteArray receive(int timeoutMs = kWaitMs, QHostAddress *from = nullptr)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        QByteArray d(65536, '\0');
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const ssize_t n =
            ::recvfrom(m_fd, d.data(), size_t(d.size()), 0, reinterpret_cast<sockaddr *>(&a), &len);
        d.resize(int(qMax<ssize_t>(0, n)));
        if (from)
            *from = QHostAddress(ntohl(a.sin_addr.s_addr));
        return d;
    }
    // The next datagram that is not a stream datagram.
    QByteArray receiveReply(int *streamSeen = nullptr)
    {
        for (int i = 0; i < 1000; ++i) {
            const QByteArray d = receive();
            if (wire::codeOf(d) != wire::kCodeStream)
                return d;
            if (streamSeen)
                ++*streamSeen;
        }
        return {};
    }

private:
    static sockaddr_in at(const QHostAddress &addr, quint16 port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(addr.toIPv4Address());
        return a;
    }
    int m_fd;
};

// Datagrams are put together in plain buffers: the fields are written through the raw-pointer helpers.
QByteArray toBytes(const std::vector<uchar> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

std::vector<uchar> commandBuffer(quint16 code, int length, quint32 value = 0)
{
    std::vector<uchar> d(size_t(length), 0);
    d[0] = 0x12;
    d[1] = 0xFF;
    wire::writeU16(d.data() + wire::kCodeOffset, code);
    wire::writeU16(d.data() + wire::kPayloadLengthOffset, quint16(length - wire::kControlHeaderBytes));
    wire::writeU32(d.data() + wire::kStatusOffset, 1);
    if (length >= 22)
        wire::writeU32(d.data() + 18, value);
    return d;
}

// SIGSTOP, and wait until the process really stands still: one running on another core gets on
// with its work for a moment after kill() returns.
bool stopProcess(qint64 pid)
{
    if (::kill(pid_t(pid), SIGSTOP) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    for (int i = 0; i < 1000; ++i) {
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray s = stat.readAll();
        stat.close();
        // "pid (comm) STATE ...": T once stopped.
        if (s.mid(s.lastIndexOf(')') + 2, 1) == "T")
            return true;
        ::usleep(1000);
    }
    return false;
}

QByteArray command(quint16 code, int length, quint32 value = 0)
{
    return toBytes(commandBuffer(code, length, value));
}

QByteArray startCommand(quint16 rateIndex)
{
    std::vector<uchar> d = commandBuffer(wire::kCmdStartStream, wire::kStartStreamBytes);
    wire::writeU16(d.data() + 56, rateIndex);
    wire::writeU16(d.data() + 58, rateIndex);
    return toBytes(d);
}

QByteArray ackOf(const QByteArray &d)
{
    std::vector<uchar> a(wire::bytes(d), wire::bytes(d) + wire::kAckBytes);
    wire::writeU16(a.data() + wire::kStreamClearedOffset, 0);
    return toBytes(a);
}

const QByteArray kDiscovery = QByteArray::fromHex("12ff001a000000000000000000000000000000000000ece6");

} // namespace

TEST(SimProcess, DiscoveryAnswersForEveryReceiver)
{
    struct Case
    {
        QStringList args;
        QList<QHostAddress> announced;
    };
    const QHostAddress lo1(QStringLiteral("127.0.0.1")), lo2(QStringLiteral("127.0.0.2"));
    const Case cases[] = {
        // A lone receiver on every address announces the one the requester reached it on.
        {{"--discovery-port", "0"}, {lo1}},
        {{"--receiver", "127.0.0.1:0", "--receiver", "127.0.0.2:0,serial=7,a=0xff,b=0", "--discovery-port",
          "0"},
         {lo1, lo2}},
    };
    for (const Case &c : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(c.args)) << qPrintable(sim.errorString());
        ASSERT_EQ(sim.receivers().size(), c.announced.size());
        PlainClient client;
        client.send(kDiscovery, QHostAddress::LocalHost, sim.discoveryPort());
        for (int i = 0; i < c.announced.size(); ++i) {
            const QByteArray r = client.receive();
            ASSERT_EQ(r.size(), 24) << i;
            EXPECT_EQ(r.left(4), QByteArray::fromHex("12ff011a"));
            EXPECT_EQ(QHostAddress(qFromBigEndian<quint32>(r.constData() + 10)), c.announced[i]);
            EXPECT_EQ(wire::readU16(r, 18), sim.receivers()[i].port);
            EXPECT_EQ(wire::readU16(r, 20), 0);
        }
        // Anything other than the exact request is ignored; the next datagram answers the next request.
        client.send(kDiscovery.left(23), QHostAddress::LocalHost, sim.discoveryPort());
        client.send(kDiscovery, QHostAddress::LocalHost, sim.discoveryPort());
        EXPECT_EQ(client.receive().size(), 24);
        ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());
        if (c.announced.size() == 2) {
            EXPECT_EQ(sim.receivers()[1].identifier, QStringLiteral("RVD01ff0000007"));
        }
    }
}

TEST(SimProcess, CommandsAndTheirFaults)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--receiver", "127.0.0.1:0", "--discovery-port", "0", "--ignore-cmd", "0x000E",
                           "--short-reply", "0x001A:53"}))
        << qPrintable(sim.errorString());
    const quint16 port = sim.receivers()[0].port;
    PlainClient client;
    const auto ask = [&](const QByteArray &cmd) {
        client.send(cmd, QHostAddress::LocalHost, port);
        return client.receiveReply();
    };
    // Ignored and malformed commands get no answer, so the next answer belongs to the next command.
    client.send(command(wire::kCmdCalibration, 18), QHostAddress::LocalHost, port);
    client.send(command(wire::kCmdTuning, 25), QHostAddress::LocalHost, port);
    std::vector<uchar> tuningBuffer = commandBuffer(wire::kCmdTuning, 26);
    wire::writeU64(tuningBuffer.data() + 18, 72000000);
    wire::writeU32(tuningBuffer.data() + wire::kChannelOffset, 1);
    const QByteArray tuning = toBytes(tuningBuffer);
    EXPECT_EQ(ask(tuning), QByteArray::fromHex("12ff08000000010000000100000000000000"));
    EXPECT_EQ(ask(command(wire::kCmdDeviceInfo, 18)).size(), 53);
    EXPECT_EQ(wire::codeOf(ask(command(wire::kCmdAttenuator, 22, 0))), wire::kCmdAttenuator);
    EXPECT_EQ(wire::codeOf(ask(command(wire::kCmdLpf, 22, 1))), wire::kCmdLpf);
    // Sent twice while the simulator cannot answer: the second copy is a resend, though both are
    // read only after it wakes; the first is a new request, though the same bytes were answered.
    ASSERT_TRUE(stopProcess(sim.processId()));
    client.send(command(wire::kCmdLpf, 22, 1), QHostAddress::LocalHost, port);
    client.send(command(wire::kCmdLpf, 22, 1), QHostAddress::LocalHost, port);
    ::usleep(20000);
    ASSERT_EQ(::kill(pid_t(sim.processId()), SIGCONT), 0);
    EXPECT_EQ(wire::codeOf(client.receiveReply()), wire::kCmdLpf);
    EXPECT_EQ(wire::codeOf(client.receiveReply()), wire::kCmdLpf);

    ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());
    const SimSummary s = sim.summary();
    EXPECT_EQ(s.commands.value(wire::kCmdCalibration), 1u);
    EXPECT_EQ(s.commands.value(wire::kCmdTuning), 2u);
    EXPECT_EQ(s.faults.value("ignore-cmd"), 1u);
    EXPECT_EQ(s.faults.value("short-reply"), 1u);
    EXPECT_EQ(s.faults.value("malformed-command"), 1u);
    const QList<SimLogEntry> log = sim.log();
    ASSERT_EQ(log.size(), 8);
    EXPECT_EQ(log[2].bytes, tuning);
    EXPECT_EQ(log[2].code, wire::kCmdTuning);
    EXPECT_EQ(log[2].length, 26);
    EXPECT_TRUE(log[2].source.startsWith(QLatin1String("127.0.0.1:")));
    EXPECT_LE(log[0].tUs, log[5].tUs);
    EXPECT_EQ(QList<bool>({log[5].resend, log[6].resend, log[7].resend}), QList<bool>({false, false, true}));
}

TEST(SimProcess, WindowWaitsForAcknowledgementsAndResends)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--receiver", "127.0.0.1:0", "--discovery-port", "0", "--retransmit-ms", "40",
                           "--start-seq", "65532"}))
        << qPrintable(sim.errorString());
    const quint16 port = sim.receivers()[0].port;
    PlainClient client;
    const auto t0 = std::chrono::steady_clock::now();
    client.send(startCommand(3), QHostAddress::LocalHost, port);

    // Withholding every acknowledgement: eight datagrams, then the same eight again, nothing newer.
    QList<quint16> seqs;
    QList<qint64> times;
    QByteArray reply;
    while (seqs.size() < 16) {
        const QByteArray d = client.receive();
        ASSERT_FALSE(d.isEmpty()) << "stream stalled after " << seqs.size();
        if (wire::codeOf(d) != wire::kCodeStream) {
            reply = d;
            continue;
        }
        ASSERT_EQ(d.size(), wire::kStreamDatagramBytes);
        seqs << wire::readU16(d, wire::kSequenceOffset);
        times << std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
                     .count();
    }
    EXPECT_EQ(wire::codeOf(reply), wire::kCmdStartStream);
    const QList<quint16> eight = {65532, 65533, 65534, 65535, 0, 1, 2, 3};
    EXPECT_EQ(seqs.mid(0, 8), eight);
    EXPECT_EQ(seqs.mid(8, 8), eight);
    // Measured from before the start command, so a slow reader cannot make it look early.
    EXPECT_GE(times[8], 40000) << "resent only after the retransmit timeout";

    // Acknowledging them lets the stream go on, in order, with nothing resent any more.
    for (quint16 s : eight) {
        std::vector<uchar> ack = {0x00, 0x00, 0xFE, 0xFF, 0, 0, 0, 0, 0, 0};
        wire::writeU16(ack.data() + wire::kSequenceOffset, s);
        client.send(toBytes(ack), QHostAddress::LocalHost, port);
    }
    quint16 expected = 4;
    for (int i = 0; i < 40; ++i) {
        const QByteArray d = client.receive();
        ASSERT_EQ(wire::codeOf(d), wire::kCodeStream);
        const quint16 s = wire::readU16(d, wire::kSequenceOffset);
        if (eight.contains(s))
            continue; // a resend that crossed our acknowledgements
        EXPECT_EQ(s, expected++);
        client.send(ackOf(d), QHostAddress::LocalHost, port);
    }
    client.send(command(wire::kCmdStopStream, 22), QHostAddress::LocalHost, port);
    EXPECT_EQ(wire::codeOf(client.receiveReply()), wire::kCmdStopStream);
    // Stopped: the next thing to arrive answers the next command; no stream datagram comes between.
    client.send(command(wire::kCmdLpf, 22), QHostAddress::LocalHost, port);
    EXPECT_EQ(wire::codeOf(client.receive()), wire::kCmdLpf);

    ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());
    const SimSummary s = sim.summary();
    EXPECT_GE(s.resent, 8u);
    EXPECT_GE(s.acknowledged, 48u);
    EXPECT_EQ(s.ackMismatch, 8u) << "the hand-made acknowledgements above did not echo bytes 0..9";
    EXPECT_EQ(s.ackCount, s.acknowledged);
    EXPECT_GT(s.ackMaxUs, 0u);
    EXPECT_EQ(s.commands.value(wire::kCmdStartStream), 1u);
    int acksLogged = 0;
    for (const SimLogEntry &e : sim.log())
        if (e.length == wire::kAckBytes) {
            ++acksLogged;
            EXPECT_EQ(e.bytes.size(), wire::kAckBytes) << "acknowledgements are logged whole";
        }
    EXPECT_EQ(acksLogged, 48);
}

TEST(SimProcess, RepeatedStartRestartsTheNumberingWithNewSamplesOrIsIgnored)
{
    const auto firstSample = [](const QByteArray &d) {
        return quint64(wire::readU16(d, 10) | quint8(d[12]) << 16);
    };
    for (const QString mode : {"restart", "ignore"}) {
        SCOPED_TRACE(mode.toStdString());
        SimProcess sim;
        // The first reply to the start is lost, so the client asks again, as the plug-in would.
        ASSERT_TRUE(sim.start({"--receiver", "127.0.0.1:0", "--discovery-port", "0", "--repeated-start", mode,
                               "--lose-reply", "1"}))
            << qPrintable(sim.errorString());
        const quint16 port = sim.receivers()[0].port;
        PlainClient client;
        client.send(startCommand(0), QHostAddress::LocalHost, port);
        for (int k = 0; k < 4; ++k) {
            const QByteArray d = client.receive();
            ASSERT_EQ(wire::readU16(d, wire::kSequenceOffset), k) << "no reply to the first start";
            client.send(ackOf(d), QHostAddress::LocalHost, port);
        }
        client.send(startCommand(0), QHostAddress::LocalHost, port);
        int streamed = 0;
        EXPECT_EQ(wire::codeOf(client.receiveReply(&streamed)), wire::kCmdStartStream);
        // Restarted: numbering from 0 again, with samples never sent before. Ignored: it goes on.
        const QByteArray d = client.receive();
        EXPECT_EQ(wire::readU16(d, wire::kSequenceOffset), mode == "restart" ? 0 : 4 + streamed);
        EXPECT_GE(firstSample(d), 4u * 200);
        ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());
        EXPECT_EQ(sim.summary().faults.value("repeated-start-ignored"), mode == "restart" ? 0u : 1u);
        EXPECT_TRUE(sim.log().value(5).resend) << "asked again for want of an answer";
    }
}

TEST(SimProcess, RefusesBadArgumentsAndBusyPorts)
{
    QProcess p;
    p.start(SimProcess::program(), {"--drop", "2"});
    ASSERT_TRUE(p.waitForFinished(kWaitMs));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(p.readAllStandardError().contains("--drop"));

    // A port held without address reuse cannot be shared.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    p.start(SimProcess::program(),
            {"--receiver", QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port)), "--discovery-port", "0"});
    ASSERT_TRUE(p.waitForFinished(kWaitMs));
    ::close(fd);
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_FALSE(p.readAllStandardOutput().contains("ready"));
}

// Inside the rig (scripts/netns-run --no-sim): the helper runs the simulator in the receiver namespace.
TEST(SimProcessRig, RunsInTheReceiverNamespace)
{
    if (qEnvironmentVariableIsEmpty("TARNIX_NETNS_RX"))
        GTEST_SKIP() << "needs scripts/netns-run";
    SimProcess sim;
    ASSERT_TRUE(sim.start(SimProcess::rigReceiverArgs())) << qPrintable(sim.errorString());
    ASSERT_GE(sim.receivers().size(), 1);
    PlainClient client(QHostAddress::AnyIPv4);
    for (const SimReceiverInfo &rx : sim.receivers()) {
        client.send(command(wire::kCmdDeviceInfo, 18), rx.address, rx.port);
        QHostAddress from;
        const QByteArray reply = client.receive(kWaitMs, &from);
        EXPECT_EQ(reply.size(), wire::kDeviceInfoReplyBytes) << qPrintable(rx.address.toString());
        EXPECT_EQ(from, rx.address);
    }
    ASSERT_TRUE(sim.stop()) << qPrintable(sim.errorString());
    EXPECT_EQ(sim.summary().commands.value(wire::kCmdDeviceInfo), quint64(sim.receivers().size()));
}
