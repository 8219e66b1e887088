// tarnix-host: a command-line ExtIO host for trying a receiver plug-in without an SDR program.

#include "tools/host/childprocess.h"
#include "tools/host/hostoptions.h"
#include "tools/host/hostrun.h"
#include "tools/host/plainfile.h"
#include "tools/host/spectrum.h"
#include "tools/host/spectrumplot.h"

#include "tools/host/plainfile.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

#ifndef TARNIX_DEFAULT_EXTIO
#define TARNIX_DEFAULT_EXTIO ""
#endif

namespace {

QString defaultLibrary(const QString &self)
{
    const QString built = QString::fromUtf8(TARNIX_DEFAULT_EXTIO);
    if (!built.isEmpty())
        return built;
#ifdef _WIN32
    return QFileInfo(self).absoluteDir().filePath(QStringLiteral("ExtIO_TarnixDDC.dll"));
#else
    return QFileInfo(self).absoluteDir().filePath(QStringLiteral("../../extio/ExtIO_TarnixDDC.so"));
#endif
}

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // The off-screen platform complains about a missing runtime folder it never needs here.
    if (type == QtDebugMsg || type == QtInfoMsg || message.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The drawing child: its own process, so it may own a QGuiApplication that no plug-in competes with.
int renderMain(const HostOptions &options, char *argv0, PlainStream &err)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietMessages);
    // Kept to the end of the process: the child ends right after drawing, and Qt 5.15's off-screen
    // platform loses its screen objects when the application is torn down.
    static int argc = 1;
    static char *argv[] = {argv0, nullptr};
    new QGuiApplication(argc, argv);
    SpectrumData data;
    QString error;
    if (!data.load(options.renderData, &error)) {
        err << "tarnix-host: " << error << endLine;
        return kExitOutput;
    }
    if (!renderSpectrum(data).save(options.renderPng, "PNG")) {
        err << "tarnix-host: cannot write " << options.renderPng << endLine;
        return kExitOutput;
    }
    return kExitOk;
}

bool drawSpectrum(const QString &self, const HostOptions &options, const HostRun &run, QString *error)
{
    const RunSummary &s = run.summary();
    SpectrumData data;
    data.loHz = double(s.retuned ? s.retuneHz : s.loHz);
    data.sampleRateHz = double(s.sampleRateHz);
    data.frames = s.spectrumFrames;
    data.span = s.spectrumSpan.isEmpty() ? QStringLiteral("the whole recording") : s.spectrumSpan;
    data.dbfs = run.spectrumDbfs();
    const QString dataPath = QDir::temp().filePath(
        QStringLiteral("tarnix-host-spectrum-%1.dat").arg(QCoreApplication::applicationPid()));
    if (!data.save(dataPath, error))
        return false;
    const int code =
        runChildProcess(self, {QStringLiteral("--render-spectrum"), dataPath, options.spectrumPath}, error);
    std::remove(QFile::encodeName(dataPath).constData());
    if (code != 0 && error->isEmpty())
        *error = QStringLiteral("drawing %1 failed").arg(options.spectrumPath);
    return code == 0;
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
        return renderMain(options, argv[0], err);

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
    if (ran)
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
