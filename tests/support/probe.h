#pragma once

// Runs the export-call probe in a fresh process (and working directory) and collects its lines.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

struct ProbeRun
{
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    QStringList lines; // one per call: "<call> <result> <ms>ms"
    QString errors;

    // The result field of the line for `call` (the first one, or the n-th when it repeats).
    QString result(const QString &call, int nth = 0) const;
    int millis(const QString &call, int nth = 0) const;
};

// `environment` changes the probe's environment: "NAME=VALUE" sets, a bare "NAME" removes.
ProbeRun runProbe(const QString &workingDir, const QStringList &calls, int timeoutMs = 60000,
                  const QStringList &prefix = {}, const QStringList &environment = {});
