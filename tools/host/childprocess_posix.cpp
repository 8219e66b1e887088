#include "tools/host/childprocess.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

int runChildProcess(const QString &program, const QStringList &arguments, QString *error)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        *error =
            QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(std::strerror(rc)));
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *error = QStringLiteral("lost track of %1").arg(program);
            return -1;
        }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    *error = QStringLiteral("%1 ended abnormally (signal %2)")
                 .arg(program)
                 .arg(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return -1;
}

QString currentExecutablePath(const char *argv0)
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return self.canonicalFilePath();
    return QFileInfo(QFile::decodeName(argv0)).absoluteFilePath();
}
