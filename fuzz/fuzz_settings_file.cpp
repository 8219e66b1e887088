// The settings reader over an arbitrary "TarnixDDC_settings.ini": every read must give a usable
// value, and a write must leave a file that reads back what was written.

#include "ui/settings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "settings broke a promise: %s\n", what);
        std::abort();
    }
}

QTemporaryDir *workDir()
{
    static QTemporaryDir dir;
    return &dir;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    check(workDir()->isValid(), "a temporary directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A fresh directory per input: Qt caches parsed settings files by path, and a new path makes
    // sure this input's bytes are the ones parsed.
    static unsigned long run = 0;
    const QString dirName = QString::number(run++);
    QDir root(workDir()->path());
    check(root.mkpath(dirName), "a directory per input");
    const QString dir = root.filePath(dirName);
    check(QDir::setCurrent(dir), "into the directory");
    {
        QFile file(QString::fromLatin1(Settings::kFileName));
        check(file.open(QIODevice::WriteOnly), "writes the file");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    Settings *s = Settings::instance();
    const int id = s->sampleRateId();
    check(id >= 0 && id <= 2, "a rate index in range");
    const int hz = s->sampleRateHz();
    check(hz == 78125 || hz == 156250 || hz == 312500, "a rate the panel offers");
    const bool lpf = s->useLpf();
    const bool att = s->useAtt();
    s->serial();

    // A write sticks, unless QSettings itself refuses the file: every read gives either what was
    // written or its default, never anything else. The serial takes any bytes (here the input's
    // first ones) and reads them back as they were.
    s->setUseLpf(!lpf);
    s->setUseAtt(!att);
    const QByteArray newSerial =
        "RVD01" + QByteArray(reinterpret_cast<const char *>(data), int(qMin<size_t>(size, 16)));
    s->setSerial(newSerial);
    check(s->useLpf() == !lpf || s->useLpf(), "the filter switch reads back or defaults");
    check(s->useAtt() == !att || !s->useAtt(), "the attenuator switch reads back or defaults");
    const QByteArray serialNow = s->serial();
    check(serialNow == newSerial || serialNow.isEmpty(), "the serial reads back or defaults");

    check(QDir::setCurrent(workDir()->path()), "back out");
    QDir(dir).removeRecursively();
    return 0;
}
