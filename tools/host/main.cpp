// tarnix-host: a command-line ExtIO host for trying a receiver plug-in without an SDR program.

#include "tools/host/childprocess.h"
#include "tools/host/hostoptions.h"
#include "tools/host/hostrun.h"
#include "tools/host/plainfile.h"
#include "tools/host/spectrumpicture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <memory>

#ifndef TARNIX_DEFAULT_EXTIO
#define TARNIX_DEFAULT_EXTIO ""
#endif

#include "platform/offscreenleakhooks.h"

namespace {

QString defaultLibrary(const QString &self)
{
    const QString built = QString::fromUtf8(TARNIX_DEFAULT_EXTIO);
#ifdef TARNIX_INSTALLED_EXTIO
    // Installed from the package, the plug-in the host was built beside is gone.
    const QString installed = QFileInfo(self).absoluteDir().filePath(QStringLiteral(TARNIX_INSTALLED_EXTIO));
    if (!QFileInfo::exists(built) && QFileInfo::exists(installed))
        return QFileInfo(installed).canonicalFilePath();
#endif
    if (!built.isEmpty())
        return built;
#ifdef _WIN32
    return QFileInfo(self).absoluteDir().filePath(QStringLiteral("ExtIO_TarnixDDC.dll"));
#else
    return QFileInfo(self).absoluteDir().filePath(QStringLiteral("../../extio/ExtIO_TarnixDDC.so"));
#endif
}

} // namespace

int main(int argc, char **argv)
{
    PlainStream out(stdout);
    PlainStream err(stderr);
    const QString self = currentExecutablePath(argv[0]);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // The help text needs an application object for the program name. Nothing is loaded yet, and
    // this one is gone before any plug-in could make its own.
    std::unique_ptr<QCoreApplication> helpApp;
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h")))
        helpApp.reset(new QCoreApplication(argc, argv));

    HostOptions options;
    QString message;
    switch (parseHostOptions(arguments, defaultLibrary(self), &options, &message)) {
    case ParseResult::Help:
        out << message;
        return kExitOk;
    case ParseResult::Error:
        err << "tarnix-host: " << message << "\nTry tarnix-host --help" << endLine;
        return kExitUsage;
    case ParseResult::Run:
        break;
    }
    if (!options.renderData.isEmpty())
        return renderSpectrumChild(options, argv[0], err);

#ifndef _WIN32
    // The plug-in builds its own Qt application; without a display it must not try X11.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif

    HostRun run(options, out, err);
    int code = run.exec();
    RunSummary &summary = run.summary();
    const bool ran =
        code != kExitUsage && code != kExitLibrary && !(code == kExitOutput && summary.name.isEmpty());
    if (ran && !options.spectrumPath.isEmpty()) {
        QString error;
        if (!drawSpectrum(self, options, run, &error)) {
            err << "tarnix-host: " << error << endLine;
            if (code == kExitOk) {
                code = kExitOutput;
                summary.exitCode = code;
                summary.error = error;
            }
        }
    }
    // Without a stream the run has printed all there is to say.
    if (ran && !options.noStream)
        out << summary.toText();
    if (!options.summaryJsonPath.isEmpty()) {
        QString error;
        if (!writePlainFile(options.summaryJsonPath, summary.toJson(), &error)) {
            err << "tarnix-host: " << error << endLine;
            if (code == kExitOk)
                code = kExitOutput;
        }
    }
    return code;
}
