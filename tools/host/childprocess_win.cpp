#include "tools/host/childprocess.h"

#include <QDir>

#include <windows.h>

namespace {

// Quotes one argument the way the C runtime's command-line parser splits it again.
QString quoted(const QString &arg)
{
    if (!arg.isEmpty() && !arg.contains(QRegExp(QStringLiteral("[\\s\"]"))))
        return arg;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : arg) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            out += QString(backslashes * 2 + 1, QLatin1Char('\\'));
        else
            out += QString(backslashes, QLatin1Char('\\'));
        backslashes = 0;
        out += c;
    }
    out += QString(backslashes * 2, QLatin1Char('\\'));
    return out + QLatin1Char('"');
}

} // namespace

int runChildProcess(const QString &program, const QStringList &arguments, QString *error)
{
    QString line = quoted(QDir::toNativeSeparators(program));
    for (const QString &a : arguments)
        line += QLatin1Char(' ') + quoted(a);
    std::wstring command = line.toStdWString();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        *error = QStringLiteral("cannot start %1 (error %2)").arg(program).arg(GetLastError());
        return -1;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return int(code);
}

QString currentExecutablePath(const char *)
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(sizeof(path) / sizeof(path[0])));
    return QDir::fromNativeSeparators(QString::fromWCharArray(path, int(n)));
}
