#pragma once

#include <QString>
#include <QStringList>

// Runs a program and waits for it; its exit code, or -1 with a reason in `error` when it could not
// run. Plain platform calls (posix_spawn, CreateProcess) rather than QProcess: the caller may hold
// a Qt application object that belongs to an unloaded plug-in.
int runChildProcess(const QString &program, const QStringList &arguments, QString *error);

// This program's own file, for starting a copy of it.
QString currentExecutablePath(const char *argv0);
