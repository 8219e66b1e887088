#include "tools/host/spectrumpicture.h"

#include "tools/host/childprocess.h"
#include "tools/host/hostoptions.h"
#include "tools/host/hostrun.h"
#include "tools/host/spectrum.h"
#include "tools/host/spectrumplot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // The off-screen platform complains about a missing runtime folder it never needs here.
    if (type == QtDebugMsg || type == QtInfoMsg || message.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

bool spectrumSupported()
{
    return true;
}

// The drawing child: its own process, so it may own a QGuiApplication that no plug-in competes with.
int renderSpectrumChild(const HostOptions &options, char *argv0, PlainStream &err)
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
