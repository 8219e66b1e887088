// The plug-in under faults for minutes at a time, in the simulated network of scripts/netns-run: the
// simulator in the receiver namespace, tarnix-host (or the export probe) on the plug-in in the host
// namespace. Durations shrink under the sanitizers (TARNIX_SOAK_SCALE). Anywhere else these skip, so
// nothing is ever sent on the machine's own network.

#include "callorder.h"
#include "hostprocess.h"
#include "streamaudit.h"
#include "tests/support/probe.h"
#include "tests/support/simprocess.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr double kPairsPerDatagram = 200;
// After 33 dropped misses the 34th resynchronises and the stream resumes 8 numbers on.
constexpr qint64 kMaxRestartGapDatagrams = 34 + 8;
constexpr qint64 kMaxRssGrowthKb = 20 * 1024;
constexpr int kMaxCallMs = 20000;

QStringList receiverAddresses()
{
    return QProcessEnvironment::systemEnvironment()
        .value(QStringLiteral("TARNIX_RX_ADDRS"))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The plug-in's own address: this namespace's one non-loopback IPv4 address.
QString hostAddress()
{
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString();
    }
    return {};
}

std::string describe(const HostResult &r)
{
    return QStringLiteral("exit %1%2%3, pattern %4\n%5")
        .arg(r.exitCode)
        .arg(r.crashed ? QStringLiteral(" crashed") : QString())
        .arg(r.timedOut ? QStringLiteral(" timed out") : QString())
        .arg(QString::fromUtf8(QJsonDocument(r.pattern).toJson(QJsonDocument::Compact)))
        .arg(r.output.right(2000))
        .toStdString();
}

class Soak : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("TARNIX_NETNS_HOST"))
            GTEST_SKIP() << "needs the namespaces of scripts/netns-run";
        m_addresses = receiverAddresses();
        ASSERT_GE(m_addresses.size(), 2);
        ASSERT_TRUE(m_dir.isValid());
        writeSoakSettings(m_dir.path());
    }

    void startSim(const QStringList &faults)
    {
        QStringList args{QStringLiteral("--receiver"), m_addresses[0], QStringLiteral("--signal"),
                         QStringLiteral("pattern")};
        ASSERT_TRUE(m_sim.start(args + faults)) << m_sim.errorString().toStdString();
    }

    // The stream itself was intact: nothing missing, repeated, out of order or undecodable; and it
    // kept flowing, at least `minShare` of the rate on average.
    static void expectIntact(const HostResult &r, double seconds, double minShare = 0.8)
    {
        ASSERT_TRUE(r.started);
        ASSERT_FALSE(r.timedOut) << describe(r);
        ASSERT_FALSE(r.crashed) << describe(r);
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        EXPECT_EQ(r.patternCount("gap_datagrams"), 0) << describe(r);
        EXPECT_EQ(r.patternCount("duplicate_datagrams"), 0) << describe(r);
        EXPECT_EQ(r.patternCount("reorderings"), 0) << describe(r);
        EXPECT_EQ(r.patternCount("wrong_values"), 0) << describe(r);
        EXPECT_GT(r.patternCount("pairs"), qint64(minShare * soakRateHz() * seconds)) << describe(r);
    }

    QStringList m_addresses;
    QTemporaryDir m_dir;
    SimProcess m_sim;
};

TEST_F(Soak, LossDuplicationAndReorderingAreHealed)
{
    const double seconds = 60 * soakScale();
    startSim({"--drop", "0.02", "--dup", "0.02", "--reorder", "0.02", "--seed", "11"});
    const HostResult r = runHost(m_dir.path(), seconds);
    ASSERT_TRUE(m_sim.stop());
    // Each lost or early datagram stalls the stream until the receiver resends its window (20 ms):
    // there is no reordering buffer, so about a third of the rate goes to those waits at 2% loss.
    expectIntact(r, seconds, 0.3);
    // Every fault really happened, and the simulator never had to give a datagram up.
    const SimSummary s = m_sim.summary();
    EXPECT_GT(s.faults.value(QStringLiteral("drop")), 0u);
    EXPECT_GT(s.faults.value(QStringLiteral("dup")), 0u);
    EXPECT_GT(s.faults.value(QStringLiteral("reorder")), 0u);
    EXPECT_EQ(s.abandoned, 0u);
}

TEST_F(Soak, BurstLossAndReceiverRestartsRecoverByThemselves)
{
    // The faults strike about two seconds into the stream (datagram `at`).
    const int at = qRound(2 * soakRateHz() / kPairsPerDatagram);
    const int later = qRound(3 * soakRateHz() / kPairsPerDatagram);
    const auto fault = [](int k, int value) { return QStringLiteral("%1:%2").arg(k).arg(value); };
    struct Case
    {
        const char *name;
        QStringList faults;
        int lastFaultAt;
    };
    const std::vector<Case> cases{
        {"burst loss of 50", {"--burst-loss", fault(at, 50)}, at + 50},
        {"restart from 0", {"--restart-seq", fault(at, 0)}, at},
        {"restart from an arbitrary number", {"--restart-seq", fault(at, 40000)}, at},
        {"restart a little behind", {"--restart-seq", fault(at, at - 10)}, at},
        {"restart a little ahead", {"--restart-seq", fault(at, at + 20)}, at},
        {"two restarts, one across the wrap",
         {"--restart-seq", fault(at, 65530), "--restart-seq", fault(later, 17)},
         later},
    };
    // What a fault may cost: the 34 misses and 8 skipped numbers of one resynchronisation.
    const double faultCostPairs = kMaxRestartGapDatagrams * kPairsPerDatagram;
    const double seconds = qMax(5.0, 6 * soakScale());
    const QString wav = m_dir.filePath(QStringLiteral("samples.wav"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        startSim(c.faults);
        const HostResult r = runHost(m_dir.path(), seconds, 2.0, wav);
        ASSERT_TRUE(m_sim.stop());
        ASSERT_TRUE(r.started);
        ASSERT_FALSE(r.timedOut) << describe(r);
        ASSERT_FALSE(r.crashed) << describe(r);
        EXPECT_EQ(r.summary.value(QStringLiteral("host_lost_pairs")).toDouble(-1), 0.0);
        const StreamAudit a = auditWav(wav);
        ASSERT_TRUE(a.read);
        const std::string audit =
            QStringLiteral("audit: %1 pairs, %2 undecodable, %3 duplicates, %4 reordered, "
                           "%5 missing in %6 jumps, highest %7")
                .arg(a.pairs)
                .arg(a.undecodable)
                .arg(a.duplicates)
                .arg(a.reordered)
                .arg(a.missing)
                .arg(a.jumps)
                .arg(a.highest)
                .toStdString();
        std::printf("%s: %s\n", c.name, audit.c_str());
        // Nothing wrong delivered, whatever the fault; a gap only of bounded size.
        EXPECT_EQ(a.undecodable, 0u) << audit;
        EXPECT_EQ(a.duplicates, 0u) << audit;
        EXPECT_EQ(a.reordered, 0u) << audit;
        const int faults = qMax(1, int(c.faults.count(QStringLiteral("--restart-seq"))));
        EXPECT_LE(double(a.missing), faults * faultCostPairs) << audit;
        // And the stream went on by itself well past the fault.
        EXPECT_GT(a.highest, quint64(c.lastFaultAt + 200) * quint64(kPairsPerDatagram)) << audit;
        const QString name = c.faults.first().mid(2);
        EXPECT_GT(m_sim.summary().faults.value(name), 0u);
    }
}

TEST_F(Soak, FloodsFromAStrangerAndOddDatagramsFromTheReceiverChangeNothing)
{
    const double seconds = qMax(10.0, 20 * soakScale());
    const QString target = hostAddress() + QStringLiteral(":50001");
    ASSERT_NE(target, QStringLiteral(":50001"));
    startSim({});
    struct Flood
    {
        QString from;
        const char *kind;
        int rate;
    };
    // The second receiver-side address plays the stranger; the receiver's own address sends the
    // malformed ones from another port.
    const std::vector<Flood> floods{
        {m_addresses[1], "stream", 4000}, {m_addresses[1], "random", 4000}, {m_addresses[0], "odd", 2000}};
    std::vector<std::unique_ptr<QProcess>> flooders;
    for (const Flood &f : floods) {
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral("ip"),
                 {"netns", "exec", qEnvironmentVariable("TARNIX_NETNS_RX"), QStringLiteral(TARNIX_FLOODER),
                  "--from", f.from, "--to", target, "--kind", f.kind, "--rate", QString::number(f.rate),
                  "--seconds", QString::number(seconds), "--seed", QString::number(flooders.size() + 1)});
        ASSERT_TRUE(p->waitForStarted(10000));
        flooders.push_back(std::move(p));
    }
    const HostResult r = runHost(m_dir.path(), seconds, 3.0);
    // Each flooder really sent its share (it prints its count when its time is up).
    for (size_t k = 0; k < flooders.size(); ++k) {
        QProcess &p = *flooders[k];
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_GT(p.readAllStandardOutput().trimmed().toLongLong(), qint64(0.5 * floods[k].rate * seconds))
            << floods[k].kind << " " << p.readAllStandardError().toStdString();
        p.kill();
        p.waitForFinished(5000);
    }
    ASSERT_TRUE(m_sim.stop());
    expectIntact(r, seconds);
    ASSERT_GT(r.rssAfterWarmupKb, 0);
    std::printf("resident %lld kB after warm-up, peak %lld kB\n", r.rssAfterWarmupKb, r.rssPeakKb);
    if (qEnvironmentVariable("TARNIX_SOAK_CHECK_RSS") != QLatin1String("0")) {
        EXPECT_LT(r.rssPeakKb - r.rssAfterWarmupKb, kMaxRssGrowthKb);
    }
    EXPECT_EQ(m_sim.summary().abandoned, 0u);
}

TEST_F(Soak, RandomCallOrdersNeitherCrashNorHang)
{
    bool seeded = false;
    const unsigned seed = qEnvironmentVariable("TARNIX_SOAK_SEED").toUInt(&seeded);
    std::mt19937 random(seeded ? seed : 20261208u);
    const int sequences = qMax(20, int(200 * soakScale()));
    constexpr int kSequencesPerProcess = 4;
    constexpr int kMaxCallsPerSequence = 12;
    startSim({});
    for (int n = 0; n < sequences; n += kSequencesPerProcess) {
        QStringList calls;
        for (int k = 0; k < kSequencesPerProcess; ++k)
            calls << randomCallSequence(random, kMaxCallsPerSequence);
        calls << QStringLiteral("blocks");
        const ProbeRun run = runProbe(m_dir.path(), calls, 120000);
        const std::string script = calls.join(QLatin1Char(' ')).toStdString();
        ASSERT_FALSE(run.timedOut) << "hung: " << script << "\n" << run.lines.join('\n').toStdString();
        ASSERT_FALSE(run.crashed) << "crashed: " << script << "\n" << run.errors.toStdString();
        ASSERT_EQ(run.exitCode, 0) << script << "\n" << run.errors.toStdString();
        ASSERT_EQ(run.lines.size(), calls.size()) << script;
        // Each line is "<call> <result> <ms>ms".
        for (const QString &line : run.lines) {
            if (!line.startsWith(QLatin1String("wait"))) {
                EXPECT_LT(line.section(QLatin1Char(' '), -1).chopped(2).toInt(), kMaxCallMs)
                    << line.toStdString();
            }
        }
        // Whatever was delivered was well-formed and decodable.
        const QString blocks = run.result(QStringLiteral("blocks"));
        EXPECT_TRUE(blocks.contains(QLatin1String(" bad=0 "))) << blocks.toStdString() << " in " << script;
        EXPECT_TRUE(blocks.contains(QLatin1String("undecodable=0")))
            << blocks.toStdString() << " in " << script;
    }
    ASSERT_TRUE(m_sim.stop());
}

} // namespace
