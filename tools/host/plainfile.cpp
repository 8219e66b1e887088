#include "tools/host/plainfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

std::FILE *openPlainFile(const QString &path, const char *mode)
{
#ifdef _WIN32
    return _wfopen(reinterpret_cast<const wchar_t *>(path.utf16()),
                   QString::fromLatin1(mode).toStdWString().c_str());
#else
    return std::fopen(QFile::encodeName(path).constData(), mode);
#endif
}

QString lastFileError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writePlainFile(const QString &path, const QByteArray &data, QString *error)
{
    std::FILE *f = openPlainFile(path, "wb");
    if (!f) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, lastFileError());
        return false;
    }
    const bool written = std::fwrite(data.constData(), 1, size_t(data.size()), f) == size_t(data.size());
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        *error = QStringLiteral("writing %1 failed: %2").arg(path, lastFileError());
        return false;
    }
    return true;
}
