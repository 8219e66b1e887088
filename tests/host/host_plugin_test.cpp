// tarnix-host --no-stream against the real plug-in. Nothing here starts a stream or a search, so the
// plug-in sends nothing and the test runs in the machine's own namespace.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kHostTimeoutMs = 60000;

struct Result
{
    int exitCode = -1;
    QString out, err;
    QJsonObject summary;
};

// Runs the host in a fresh folder, which is where the plug-in keeps its settings file.
Result runNoStream(const QByteArray &settings, const QStringList &extra)
{
    Result r;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        ADD_FAILURE() << "no temporary folder";
        return r;
    }
    if (!settings.isEmpty()) {
        QFile f(dir.filePath(QStringLiteral("TarnixDDC_settings.ini")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings);
    }
    const QString json = dir.filePath(QStringLiteral("summary.json"));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARNIX_HOST_PATH),
            QStringList{QStringLiteral("--library"), QStringLiteral(EXTIO_PATH),
                        QStringLiteral("--no-stream"), QStringLiteral("--summary-json"), json} +
                extra);
    if (!p.waitForFinished(kHostTimeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        ADD_FAILURE() << "tarnix-host did not finish";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    QFile f(json);
    if (f.open(QIODevice::ReadOnly))
        r.summary = QJsonDocument::fromJson(f.readAll()).object();
    return r;
}

qint64 num(const QJsonObject &o, const char *key)
{
    return qint64(o.value(QLatin1String(key)).toDouble(-1));
}

} // namespace

TEST(HostAgainstPlugin, NoStreamFindsThePluginsOwnAnswers)
{
    struct Case
    {
        const char *name;
        QByteArray settings;
        QStringList extra;
        int exitCode;
        qint64 loHz, rateHz;
    };
    const Case cases[] = {
        {"no settings file, panel shown", {}, {}, 0, 7200000, 312500},
        {"lowest offered rate, LO set, no panel",
         "[General]\nSampleRateID=0\n",
         {QStringLiteral("--lo"), QStringLiteral("7100000"), QStringLiteral("--no-gui")},
         0,
         7100000,
         78125},
        {"middle rate", "[General]\nSampleRateID=1\n", {QStringLiteral("--no-gui")}, 0, 7200000, 156250},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = runNoStream(c.settings, c.extra);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString() << r.out.toStdString();
        const QJsonObject &s = r.summary;
        EXPECT_EQ(s.value(QLatin1String("name")).toString(), QStringLiteral("Receiver TarnixDDC"));
        EXPECT_EQ(s.value(QLatin1String("model")).toString(), QStringLiteral("TarnixDDC"));
        EXPECT_EQ(num(s, "hw_type"), 6);
        EXPECT_EQ(num(s, "reported_lo_hz"), c.loHz);
        EXPECT_EQ(num(s, "sample_rate_hz"), c.rateHz);
        EXPECT_TRUE(r.out.contains(QStringLiteral("GetHWSR: %1 samples/s").arg(c.rateHz)))
            << r.out.toStdString();
    }
}
