// Runs the tarnix-host program against the fake plug-in and checks what it reports.
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

struct Result
{
    int exitCode = -1;
    QString out, err;
    QJsonObject summary;
    QStringList calls;
};

class HostRun : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    Result run(const QString &fakeConfig, QStringList args,
               const QString &library = QStringLiteral(FAKE_EXTIO_PATH))
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FAKE_EXTIO"), fakeConfig);
        env.insert(QStringLiteral("FAKE_EXTIO_LOG"), path("calls.log"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        QFile::remove(path("calls.log"));
        QFile::remove(path("summary.json"));
        args << QStringLiteral("--library") << library << QStringLiteral("--summary-json")
             << path("summary.json");
        p.start(QStringLiteral(TARNIX_HOST_PATH), args);
        Result r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            ADD_FAILURE() << "tarnix-host did not finish";
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        QFile json(path("summary.json"));
        if (json.open(QIODevice::ReadOnly))
            r.summary = QJsonDocument::fromJson(json.readAll()).object();
        QFile log(path("calls.log"));
        if (log.open(QIODevice::ReadOnly))
            r.calls = QString::fromLatin1(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return r;
    }

    QTemporaryDir m_dir;
};

qint64 num(const QJsonObject &o, const char *key)
{
    return qint64(o.value(QLatin1String(key)).toDouble(-1));
}

} // namespace

TEST_F(HostRun, CleanRunCallsTheExportsInOrderAndRecordsEveryPair)
{
    const Result r =
        run(QStringLiteral("blocks=40"),
            {QStringLiteral("--seconds"), QStringLiteral("1.5"), QStringLiteral("--check-pattern"),
             QStringLiteral("--lo"), QStringLiteral("7100000"), QStringLiteral("--retune-at"),
             QStringLiteral("0.01"), QStringLiteral("--retune-hz"), QStringLiteral("7300000"),
             QStringLiteral("--wav"), path("r.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    const QStringList expected = {QStringLiteral("InitHW"),
                                  QStringLiteral("OpenHW"),
                                  QStringLiteral("SetCallback"),
                                  QStringLiteral("SetHWLO 7100000"),
                                  QStringLiteral("GetHWSR"),
                                  QStringLiteral("ShowGUI"),
                                  QStringLiteral("StartHW 7100000"),
                                  QStringLiteral("GetHWSR"),
                                  QStringLiteral("SetHWLO streaming 7300000"),
                                  QStringLiteral("StopHW"),
                                  QStringLiteral("HideGUI"),
                                  QStringLiteral("CloseHW")};
    EXPECT_EQ(r.calls, expected);

    const QJsonObject s = r.summary;
    EXPECT_EQ(num(s, "blocks"), 40);
    EXPECT_EQ(num(s, "pairs"), 40 * 2048);
    EXPECT_EQ(num(s, "sample_rate_hz"), 312500);
    EXPECT_EQ(num(s, "irregular_calls"), 0);
    EXPECT_FALSE(s.value(QLatin1String("callback_on_host_thread")).toBool(true));
    EXPECT_FALSE(s.value(QLatin1String("callback_thread")).toString().isEmpty());
    EXPECT_GE(s.value(QLatin1String("first_block_ms")).toDouble(-1), 0.0);
    const QJsonObject p = s.value(QLatin1String("pattern")).toObject();
    EXPECT_TRUE(p.value(QLatin1String("clean")).toBool());
    EXPECT_EQ(num(p, "pairs"), 40 * 2048);
    EXPECT_EQ(num(p, "first_index"), 0);

    // The recording holds exactly what was delivered: the pattern, in order.
    QFile wav(path("r.wav"));
    ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
    const QByteArray b = wav.readAll();
    ASSERT_EQ(b.size(), 44 + 40 * 2048 * 8);
    EXPECT_EQ(qFromLittleEndian<quint32>(b.constData() + 40), quint32(40 * 2048 * 8));
    EXPECT_EQ(qFromLittleEndian<quint32>(b.constData() + 24), 312500u);
    const int last = 40 * 2048 - 1;
    EXPECT_EQ(qFromLittleEndian<qint32>(b.constData() + 44 + last * 8), last << 8);
    EXPECT_EQ(num(s.value(QLatin1String("wav")).toObject(), "frames"), 40 * 2048);
}

TEST_F(HostRun, InjectedFaultsAreCountedExactly)
{
    struct Case
    {
        const char *config;
        qint64 gapDatagrams, duplicateDatagrams, reorderings, wrongValues;
    };
    const Case cases[] = {
        {"drop=7,30,31", 3, 0, 0, 0},
        {"dup=12;dup=50", 0, 2, 0, 0},
        {"swap=20", 0, 0, 1, 0},
        {"corrupt=999,4001", 0, 0, 0, 2},
        {"drop=5;dup=9;swap=100;corrupt=30000", 1, 1, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        const Result r = run(QString::fromLatin1(c.config) + QStringLiteral(";blocks=30"),
                             {QStringLiteral("--seconds"), QStringLiteral("1"),
                              QStringLiteral("--check-pattern"), QStringLiteral("--no-gui")});
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        const QJsonObject p = r.summary.value(QLatin1String("pattern")).toObject();
        EXPECT_EQ(num(p, "gap_datagrams"), c.gapDatagrams);
        EXPECT_EQ(num(p, "gap_samples"), c.gapDatagrams * 200);
        EXPECT_EQ(num(p, "duplicate_datagrams"), c.duplicateDatagrams);
        EXPECT_EQ(num(p, "duplicate_samples"), c.duplicateDatagrams * 200);
        EXPECT_EQ(num(p, "reorderings"), c.reorderings);
        EXPECT_EQ(num(p, "wrong_values"), c.wrongValues);
        EXPECT_FALSE(r.calls.contains(QStringLiteral("ShowGUI")));
    }
}

TEST_F(HostRun, SpectrumShowsTheToneAndIsAPicture)
{
    if (!HOST_HAS_SPECTRUM) {
        // Builds without FFTW refuse at once rather than stream and draw nothing.
        const Result r = run({}, {QStringLiteral("--spectrum"), path("s.png")});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(QStringLiteral("this build has no spectrum support")))
            << r.err.toStdString();
        EXPECT_TRUE(r.calls.isEmpty());
        return;
    }
    const Result r = run(QStringLiteral("tone=25000;blocks=60"),
                         {QStringLiteral("--seconds"), QStringLiteral("1"), QStringLiteral("--no-gui"),
                          QStringLiteral("--spectrum"), path("s.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject s = r.summary.value(QLatin1String("spectrum")).toObject();
    EXPECT_NEAR(s.value(QLatin1String("peak_offset_hz")).toDouble(), 25000, 312500.0 / 4096);
    EXPECT_NEAR(s.value(QLatin1String("peak_dbfs")).toDouble(), -6.0, 1.0);
    const QImage image(path("s.png"));
    EXPECT_EQ(image.size(), QSize(1280, 720));
}

TEST_F(HostRun, FailuresAreExplainedInPlainLanguage)
{
    struct Case
    {
        const char *name;
        QString config;
        QString library;
        QStringList extra;
        int exitCode;
        QString message;
    };
    const Case cases[] = {
        {"missing file", {}, path("nowhere.so"), {}, 3, QStringLiteral("does not exist")},
        {"not a library", {}, QStringLiteral(TARNIX_HOST_PATH), {}, 3, QStringLiteral("could not be loaded")},
        {"no ExtIO exports",
         {},
         QStringLiteral(NOT_EXTIO_PATH),
         {},
         3,
         QStringLiteral("exports none of the ExtIO functions")},
        {"some exports missing",
         {},
         QStringLiteral(PARTIAL_EXTIO_PATH),
         {},
         3,
         QStringLiteral("lacks the exports InitHW, GetHWSR, HideGUI")},
        {"StartHW fails",
         QStringLiteral("start=-1"),
         QStringLiteral(FAKE_EXTIO_PATH),
         {},
         4,
         QStringLiteral("StartHW returned -1")},
        {"no block arrives",
         QStringLiteral("silent=1"),
         QStringLiteral(FAKE_EXTIO_PATH),
         {},
         4,
         QStringLiteral("no receiver answered")},
        {"bad option",
         {},
         QStringLiteral(FAKE_EXTIO_PATH),
         {QStringLiteral("--seconds"), QStringLiteral("soon")},
         2,
         QStringLiteral("--seconds")},
        {"picture folder missing",
         {},
         QStringLiteral(FAKE_EXTIO_PATH),
         {QStringLiteral("--spectrum"), QStringLiteral("/nonexistent-dir/s.png")},
         HOST_HAS_SPECTRUM ? 5 : 2,
         HOST_HAS_SPECTRUM ? QStringLiteral("cannot write /nonexistent-dir/s.png")
                           : QStringLiteral("this build has no spectrum support")},
        {"retune after the end",
         {},
         QStringLiteral(FAKE_EXTIO_PATH),
         {QStringLiteral("--retune-at"), QStringLiteral("5"), QStringLiteral("--retune-hz"),
          QStringLiteral("1")},
         2,
         QStringLiteral("--retune-at")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = run(
            c.config, QStringList{QStringLiteral("--seconds"), QStringLiteral("0.3")} + c.extra, c.library);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        if (c.exitCode == 4) {
            EXPECT_TRUE(r.calls.contains(QStringLiteral("CloseHW")));
            EXPECT_EQ(r.summary.value(QLatin1String("error")).toString().contains(c.message), true);
        }
    }
}

TEST_F(HostRun, NoStreamChecksTheAnswersWithoutStarting)
{
    const QString tarnix = QStringLiteral("name=Receiver TarnixDDC;model=TarnixDDC;rate=156250");
    const QStringList setUp = {QStringLiteral("InitHW"), QStringLiteral("OpenHW"),
                               QStringLiteral("SetCallback")};
    const QStringList readBack = {QStringLiteral("GetHWLO"), QStringLiteral("GetHWSR")};
    const QStringList shown = {QStringLiteral("ShowGUI"), QStringLiteral("HideGUI"),
                               QStringLiteral("CloseHW")};
    struct Case
    {
        const char *name;
        QString config;
        QStringList extra;
        int exitCode;
        QString message; // in stderr; empty for a clean run
        QStringList calls;
    };
    const Case cases[] = {
        {"the plug-in's own answers", tarnix, {}, 0, {}, setUp + readBack + shown},
        {"LO given, no panel",
         tarnix,
         {QStringLiteral("--lo"), QStringLiteral("7100000"), QStringLiteral("--no-gui")},
         0,
         {},
         setUp + QStringList{QStringLiteral("SetHWLO 7100000")} + readBack +
             QStringList{QStringLiteral("HideGUI"), QStringLiteral("CloseHW")}},
        {"another plug-in",
         QStringLiteral("rate=156250"),
         {},
         6,
         QStringLiteral("InitHW gave the name \"Fake receiver\", not \"Receiver TarnixDDC\"; InitHW gave the "
                        "model \"Fake\", not \"TarnixDDC\""),
         setUp + readBack + shown},
        {"wrong type",
         tarnix + QStringLiteral(";type=5"),
         {},
         6,
         QStringLiteral("type 5, not 6"),
         setUp + readBack + shown},
        {"LO not kept",
         tarnix + QStringLiteral(";lo=7000000"),
         {},
         6,
         QStringLiteral("GetHWLO returned 7000000, not 7200000"),
         setUp + readBack + shown},
        {"rate the panel does not offer",
         tarnix + QStringLiteral(";rate=39062"),
         {},
         6,
         QStringLiteral("GetHWSR returned 39062"),
         setUp + readBack + shown},
        {"InitHW fails",
         tarnix + QStringLiteral(";init=0"),
         {},
         3,
         QStringLiteral("InitHW reported failure"),
         {QStringLiteral("InitHW")}},
        {"streaming option",
         tarnix,
         {QStringLiteral("--wav"), path("x.wav")},
         2,
         QStringLiteral("--no-stream does not go with --wav"),
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = run(c.config, QStringList{QStringLiteral("--no-stream")} + c.extra);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString() << r.out.toStdString();
        EXPECT_EQ(r.calls, c.calls);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
            EXPECT_TRUE(r.out.contains(QStringLiteral("All answers as expected"))) << r.out.toStdString();
        } else {
            EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        }
        if (c.exitCode != 2) {
            EXPECT_TRUE(r.summary.value(QLatin1String("no_stream")).toBool());
            EXPECT_EQ(num(r.summary, "exit_code"), c.exitCode);
        }
    }
}
