#include "hostprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>

namespace {

constexpr int kSampleIntervalMs = 200;
constexpr int kStartupMarginMs = 60000;

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

double soakScale()
{
    bool ok = false;
    const double scale = qEnvironmentVariable("TARNIX_SOAK_SCALE").toDouble(&ok);
    return ok && scale > 0 && scale <= 1 ? scale : 1.0;
}

int soakRateId()
{
    bool ok = false;
    const int id = qEnvironmentVariable("TARNIX_SOAK_RATE_ID").toInt(&ok);
    return ok && id >= 0 && id <= 2 ? id : 2;
}

double soakRateHz()
{
    constexpr double kRatesHz[] = {78125, 156250, 312500};
    return kRatesHz[soakRateId()];
}

void writeSoakSettings(const QString &workDir)
{
    QSettings s(QDir(workDir).filePath(QStringLiteral("TarnixDDC_settings.ini")), QSettings::IniFormat);
    s.setValue(QStringLiteral("SampleRateID"), soakRateId());
    s.setValue(QStringLiteral("Use_LPF"), true);
    s.setValue(QStringLiteral("Use_ATT"), false);
    s.setValue(QStringLiteral("Serial"), QByteArray());
}

HostResult runHost(const QString &workDir, double seconds, double warmupS, const QString &wavPath)
{
    HostResult r;
    const QString summaryPath = QDir(workDir).filePath(QStringLiteral("host-summary.json"));
    QFile::remove(summaryPath);
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{QStringLiteral("--library"),      QStringLiteral(TARNIX_PLUGIN),
                     QStringLiteral("--seconds"),      QString::number(seconds),
                     QStringLiteral("--no-gui"),       QStringLiteral("--check-pattern"),
                     QStringLiteral("--summary-json"), summaryPath};
    if (!wavPath.isEmpty())
        args << QStringLiteral("--wav") << wavPath;
    p.start(QStringLiteral(TARNIX_HOST), args);
    r.started = p.waitForStarted(10000);
    if (!r.started)
        return r;

    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = qint64(seconds * 1000) + kStartupMarginMs;
    while (!p.waitForFinished(kSampleIntervalMs)) {
        if (clock.elapsed() > limitMs) {
            r.timedOut = true;
            p.kill();
            p.waitForFinished(5000);
            break;
        }
        const qint64 kb = residentKb(p.processId());
        if (kb < 0)
            continue;
        if (r.rssAfterWarmupKb < 0 && clock.elapsed() >= qint64(warmupS * 1000))
            r.rssAfterWarmupKb = kb;
        r.rssPeakKb = qMax(r.rssPeakKb, kb);
    }
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.exitCode = p.exitCode();
    r.output = QString::fromLocal8Bit(p.readAll());
    QFile summary(summaryPath);
    if (summary.open(QIODevice::ReadOnly)) {
        r.summary = QJsonDocument::fromJson(summary.readAll()).object();
        r.pattern = r.summary.value(QStringLiteral("pattern")).toObject();
    }
    return r;
}
