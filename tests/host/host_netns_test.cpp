// tarnix-host against the real plug-in and the simulator, in the host namespace of scripts/netns-run
// with the simulator in the receiver namespace. Anywhere else these tests skip, so nothing is ever
// broadcast on the machine's own network.
#include "tests/support/simprocess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

constexpr int kHostTimeoutMs = 120000;

struct HostRun
{
    int exitCode = -1;
    QJsonObject summary;
    QString output;
};

class HostInNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("TARNIX_NETNS_HOST"))
            GTEST_SKIP() << "needs the namespaces of scripts/netns-run";
        m_address = QProcessEnvironment::systemEnvironment()
                        .value(QStringLiteral("TARNIX_RX_ADDRS"))
                        .section(' ', 0, 0);
        ASSERT_FALSE(m_address.isEmpty());
        ASSERT_TRUE(m_dir.isValid());
    }

    void startSim(const QStringList &extra)
    {
        ASSERT_TRUE(m_sim.start(QStringList{QStringLiteral("--receiver"), m_address} + extra))
            << m_sim.errorString().toStdString();
    }

    // The lowest sample rate leaves the plug-in's FIFO the most slack on a busy (sanitised) machine.
    void useSampleRateId(int id)
    {
        QFile f(m_dir.filePath(QStringLiteral("TarnixDDC_settings.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nSampleRateID=" + QByteArray::number(id) + "\n");
    }

    HostRun runHost(const QStringList &args)
    {
        HostRun run;
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TARNIX_HOST_PATH),
                args +
                    QStringList{QStringLiteral("--no-gui"), QStringLiteral("--summary-json"), summaryPath()});
        if (!p.waitForFinished(kHostTimeoutMs))
            p.kill();
        p.waitForFinished(5000);
        run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.output = QString::fromUtf8(p.readAll());
        QFile f(summaryPath());
        if (f.open(QIODevice::ReadOnly))
            run.summary = QJsonDocument::fromJson(f.readAll()).object();
        return run;
    }

    QString summaryPath() const { return m_dir.filePath(QStringLiteral("summary.json")); }

    QString m_address;
    QTemporaryDir m_dir;
    SimProcess m_sim;
};

} // namespace

TEST_F(HostInNetwork, CleanStreamIsReportedIntactAndRecordedWhole)
{
    startSim({QStringLiteral("--signal"), QStringLiteral("pattern")});
    useSampleRateId(0);
    const QString wav = m_dir.filePath(QStringLiteral("rec.wav"));
    const HostRun run = runHost({QStringLiteral("--seconds"), QStringLiteral("3"),
                                 QStringLiteral("--check-pattern"), QStringLiteral("--wav"), wav});
    ASSERT_TRUE(m_sim.stop());
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QJsonObject pattern = run.summary.value("pattern").toObject();
    const qint64 pairs = run.summary.value("pairs").toVariant().toLongLong();
    EXPECT_TRUE(pattern.value("clean").toBool()) << run.output.toStdString();
    EXPECT_EQ(pattern.value("gap_datagrams").toInt(), 0);
    EXPECT_GT(pairs, 50 * 2048);
    EXPECT_EQ(run.summary.value("sample_rate_hz").toInt(), 78125);
    EXPECT_FALSE(run.summary.value("callback_on_host_thread").toBool());

    // The WAV header describes exactly what was delivered: 2 x 32-bit PCM at the plug-in's rate.
    QFile f(wav);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_GE(bytes.size(), 44);
    const uchar *h = reinterpret_cast<const uchar *>(bytes.constData());
    EXPECT_EQ(bytes.left(4), QByteArray("RIFF"));
    EXPECT_EQ(bytes.mid(8, 4), QByteArray("WAVE"));
    EXPECT_EQ(qFromLittleEndian<quint16>(h + 22), 2);      // channels
    EXPECT_EQ(qFromLittleEndian<quint32>(h + 24), 78125u); // sample rate
    EXPECT_EQ(qFromLittleEndian<quint16>(h + 34), 32);     // bits per sample
    EXPECT_EQ(bytes.mid(36, 4), QByteArray("data"));
    EXPECT_EQ(qFromLittleEndian<quint32>(h + 40), quint32(pairs * 8));
    EXPECT_EQ(bytes.size(), 44 + pairs * 8);
}

TEST_F(HostInNetwork, DatagramsLostForGoodShowAsAGapAndNothingWorse)
{
    // Three datagrams never sent: the plug-in waits, then resynchronises past them.
    startSim({QStringLiteral("--signal"), QStringLiteral("pattern"), QStringLiteral("--lose-for-good"),
              QStringLiteral("200:3")});
    useSampleRateId(0);
    const HostRun run =
        runHost({QStringLiteral("--seconds"), QStringLiteral("4"), QStringLiteral("--check-pattern")});
    ASSERT_TRUE(m_sim.stop());
    EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
    const QJsonObject pattern = run.summary.value("pattern").toObject();
    const int gap = pattern.value("gap_datagrams").toInt();
    // At least the lost ones, at most what the resynchronisation after 34 misses skips.
    EXPECT_GE(gap, 3);
    EXPECT_LE(gap, 3 + 34 + 8);
    EXPECT_EQ(pattern.value("gap_samples").toInt(), gap * 200);
    EXPECT_EQ(pattern.value("duplicate_datagrams").toInt(), 0);
    EXPECT_EQ(pattern.value("reorderings").toInt(), 0);
    EXPECT_EQ(pattern.value("wrong_values").toInt(), 0);
    // ...and the stream went on after it.
    EXPECT_GT(run.summary.value("pairs").toVariant().toLongLong(), 4 * 2048);
}

TEST_F(HostInNetwork, SpectrumPeakSitsAtTheToneOffsetAndFollowsTheRetune)
{
    // One strong tone 50 kHz above the first LO; after retuning 30 kHz up it sits 20 kHz above.
    startSim({QStringLiteral("--signal"), QStringLiteral("tones"), QStringLiteral("--tone"),
              QStringLiteral("7250000:-30")});
    useSampleRateId(2);
    const QString png = m_dir.filePath(QStringLiteral("spectrum.png"));
    const HostRun run = runHost(
        {QStringLiteral("--seconds"), QStringLiteral("3"), QStringLiteral("--retune-at"), QStringLiteral("1"),
         QStringLiteral("--retune-hz"), QStringLiteral("7230000"), QStringLiteral("--spectrum"), png});
    ASSERT_TRUE(m_sim.stop());
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QJsonObject spectrum = run.summary.value("spectrum").toObject();
    const double binHz = 312500.0 / 4096;
    // The picture covers the span after the retune.
    EXPECT_NEAR(spectrum.value("peak_offset_hz").toDouble(), 20000.0, 2 * binHz) << run.output.toStdString();
    EXPECT_NEAR(spectrum.value("peak_dbfs").toDouble(), -30.0, 3.0);
    EXPECT_TRUE(QFile::exists(png));
}

TEST_F(HostInNetwork, NoReceiverAnsweringIsAPlainError)
{
    // No simulator at all: the broadcast stays unanswered inside the namespace.
    const HostRun run = runHost({QStringLiteral("--seconds"), QStringLiteral("2")});
    EXPECT_EQ(run.exitCode, 4) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("no receiver"), Qt::CaseInsensitive))
        << run.output.toStdString();
}

// A Windows machine at its default timer resolution lets every short sleep and wait bound last a whole
// 15.625 ms tick. The plug-in's threads must still take in, acknowledge and deliver the highest rate
// without losing a sample.
TEST_F(HostInNetwork, CoarseTimerTicksLoseNothingAtTheHighestRate)
{
    constexpr double kSeconds = 20;
    startSim({QStringLiteral("--signal"), QStringLiteral("pattern")});
    useSampleRateId(2);
    const HostRun run =
        runHost({QStringLiteral("--library"), QStringLiteral(TARNIX_COARSE_PLUGIN_PATH),
                 QStringLiteral("--seconds"), QString::number(kSeconds), QStringLiteral("--check-pattern")});
    ASSERT_TRUE(m_sim.stop());
    const std::string output = run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << output;
    const QJsonObject pattern = run.summary.value("pattern").toObject();
    EXPECT_EQ(pattern.value("gap_datagrams").toInt(-1), 0) << output;
    EXPECT_EQ(pattern.value("duplicate_datagrams").toInt(-1), 0);
    EXPECT_EQ(pattern.value("wrong_values").toInt(-1), 0);
    EXPECT_EQ(run.summary.value("host_lost_pairs").toDouble(-1), 0.0);
    // The stream kept its rate: whatever start-up took, nearly all of it arrived.
    EXPECT_GT(run.summary.value("pairs").toDouble(), 0.9 * 312500 * kSeconds) << output;
    EXPECT_EQ(m_sim.summary().abandoned, 0u);
}
