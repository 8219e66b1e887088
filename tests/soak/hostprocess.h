#pragma once

// Runs the command-line host (tarnix-host) on the plug-in as a child process, for the soak tests:
// streams for a while with the pattern check on, samples the child's resident memory while it runs,
// and reads back its JSON summary.

#include <QJsonObject>
#include <QString>
#include <QStringList>

struct HostResult
{
    bool started = false;
    bool timedOut = false;
    bool crashed = false;
    int exitCode = -1;
    QJsonObject summary;
    QJsonObject pattern; // summary["pattern"]
    // Resident memory: the first sample taken at least `warmupS` after the start, and the highest.
    qint64 rssAfterWarmupKb = -1;
    qint64 rssPeakKb = -1;
    QString output;

    qint64 patternCount(const char *key) const
    {
        return qint64(pattern.value(QLatin1String(key)).toDouble(-1));
    }
};

// `workDir` holds the settings file; the run takes `seconds` of streaming plus start-up and a margin
// before it counts as hung.
// With `wavPath`, the samples are also recorded there.
HostResult runHost(const QString &workDir, double seconds, double warmupS = 2.0, const QString &wavPath = {});

// Writes a settings file choosing the soak's sample rate and the first receiver that answers.
void writeSoakSettings(const QString &workDir);

// Scales a soak duration: 1 in the normal build, less under the sanitizers (TARNIX_SOAK_SCALE).
double soakScale();
// The rate the soak streams at: 312500 samples/s in the normal build; under the sanitizers, whose
// slowed delivery could not keep up with it, a lower one (TARNIX_SOAK_RATE_ID, 0..2).
int soakRateId();
double soakRateHz();
