#include "tests/support/probe.h"

#include <QProcessEnvironment>

namespace {
QStringList fieldsOf(const QStringList &lines, const QString &call, int nth)
{
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.value(0) == call && nth-- == 0)
            return f;
    }
    return {};
}
} // namespace

QString ProbeRun::result(const QString &call, int nth) const
{
    const QStringList f = fieldsOf(lines, call, nth);
    // The result may itself contain blanks: everything between the call and the time.
    return f.size() >= 3 ? f.mid(1, f.size() - 2).join(QLatin1Char(' ')) : QStringLiteral("<none>");
}

int ProbeRun::millis(const QString &call, int nth) const
{
    const QStringList f = fieldsOf(lines, call, nth);
    return f.isEmpty() ? -1 : f.last().chopped(2).toInt();
}

ProbeRun runProbe(const QString &workingDir, const QStringList &calls, int timeoutMs,
                  const QStringList &prefix, const QStringList &environment)
{
    ProbeRun run;
    QProcess p;
    p.setWorkingDirectory(workingDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &change : environment) {
        const int eq = change.indexOf(QLatin1Char('='));
        if (eq < 0)
            env.remove(change);
        else
            env.insert(change.left(eq), change.mid(eq + 1));
    }
    p.setProcessEnvironment(env);
    QStringList args = prefix;
    args << QStringLiteral(TARNIX_PROBE) << QStringLiteral(TARNIX_PLUGIN) << calls;
    const QString program = args.takeFirst();
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        run.timedOut = true;
        p.kill();
        p.waitForFinished(5000);
    }
    run.crashed = p.exitStatus() == QProcess::CrashExit;
    run.exitCode = p.exitCode();
    run.lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(p.readAllStandardError());
    return run;
}
