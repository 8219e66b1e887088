// The simulator's command line: what is accepted, what it means, and what is refused.

#include "tools/sim/simoptions.h"

#include <gtest/gtest.h>

using namespace sim;

namespace {
QStringList split(const char *s)
{
    return QString::fromLatin1(s).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
} // namespace

TEST(SimOptions, DefaultsPlayOneReceiverOnEveryAddress)
{
    SimConfig c;
    QString error;
    ASSERT_EQ(parseOptions({}, &c, &error), ParseResult::Run);
    ASSERT_EQ(c.receivers.size(), 1);
    EXPECT_TRUE(c.receivers[0].address.isEmpty());
    EXPECT_EQ(c.receivers[0].port, 50001);
    EXPECT_EQ(c.discoveryPort, 50001);
    EXPECT_EQ(c.signal, SignalKind::Pattern);
    EXPECT_FALSE(c.tones.isEmpty());
    EXPECT_EQ(parseOptions(split("--help"), &c, &error), ParseResult::Help);
}

TEST(SimOptions, ReceiversAndFaults)
{
    SimConfig c;
    QString error;
    ASSERT_EQ(
        parseOptions(split("--receiver 10.0.0.7:4000,serial=9,a=0xff,b=0,flags=0x801 --receiver 10.0.0.8 "
                           "--burst-loss 5:3 --lose-for-good 9 --restart-seq 20:65535 --silence 4:250 "
                           "--ignore-cmd 0x000E --short-reply 0x1A:53 --lose-reply 1:2 --repeated-start "
                           "ignore --drop=0.25 --tone 7100000:-10 "
                           "--tone 7000000:-20 --signal tones --speed 4 --cal 1,2,3,4,5,6,7,8"),
                     &c, &error),
        ParseResult::Run)
        << qPrintable(error);
    ASSERT_EQ(c.receivers.size(), 2);
    EXPECT_EQ(c.receivers[0].address, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(c.receivers[0].port, 4000);
    EXPECT_EQ(c.receivers[0].serialNumber, 9u);
    EXPECT_EQ(c.receivers[0].serialByteA, 0xFF);
    EXPECT_EQ(c.receivers[0].serialByteB, 0);
    EXPECT_EQ(c.receivers[0].info.statusFlags, 0x801u);
    EXPECT_EQ(c.receivers[1].port, 50001);
    EXPECT_EQ(c.receivers[1].serialNumber, 124u) << "each receiver its own default serial";
    const FaultConfig &f = c.faults;
    EXPECT_TRUE(f.burstLoss[0].contains(7) && !f.burstLoss[0].contains(8) && !f.burstLoss[0].contains(4));
    EXPECT_TRUE(f.loseForGood[0].contains(9) && !f.loseForGood[0].contains(10));
    EXPECT_EQ(f.restartSeq[0], qMakePair(quint64(20), quint16(65535)));
    EXPECT_EQ(f.silenceMs[0], qMakePair(quint64(4), 250));
    EXPECT_EQ(f.ignoreCmd, QVector<quint16>{0x000E});
    EXPECT_EQ(f.shortReply[0], qMakePair(quint16(0x1A), 53));
    EXPECT_EQ(f.loseReply[0], qMakePair(quint16(1), 2));
    EXPECT_EQ(c.repeatedStart, RepeatedStart::Ignore);
    EXPECT_DOUBLE_EQ(f.drop, 0.25);
    ASSERT_EQ(c.tones.size(), 2) << "given tones replace the default set";
    EXPECT_EQ(c.signal, SignalKind::Tones);
    EXPECT_DOUBLE_EQ(c.calibration.values[7], 8.0);
}

TEST(SimOptions, BadArgumentsAreRefused)
{
    const char *bad[] = {
        "--frobnicate 1",
        "--receiver",
        "--receiver 10.0.0.300",
        "--receiver host.example",
        "--receiver ::1",
        "--receiver 10.0.0.1:70000",
        "--receiver 10.0.0.1,serial=x",
        "--receiver 10.0.0.1,colour=3",
        "--receiver 10.0.0.1,a=256",
        "--drop 1.5",
        "--dup -0.1",
        "--speed 0",
        "--burst-loss 5",
        "--burst-loss 5:0",
        "--restart-seq 1:65536",
        "--silence 3",
        "--signal sine",
        "--tone 7000000",
        "--cal 1,2,3",
        "--retransmit-ms 0",
        "--receiver 10.0.0.1 --receiver 10.0.0.1:50001",
        "--duration -1",
        "--short-reply 0x1A",
        "--repeated-start twice",
        "--ignore-cmd 0x10000",
    };
    for (const char *args : bad) {
        SimConfig c;
        QString error;
        EXPECT_EQ(parseOptions(split(args), &c, &error), ParseResult::Error) << args;
        EXPECT_FALSE(error.isEmpty()) << args;
    }
}
