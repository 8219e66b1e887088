#include "tools/host/hostoptions.h"

#include "tools/host/spectrumpicture.h"

#include <QCommandLineParser>

#include <climits>
#include <cmath>

namespace {

bool parseHz(const QString &text, long *hz)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    // long is 32 bits on Windows, so keep to what every host can pass.
    if (!ok || !std::isfinite(v) || v < 0 || v > double(INT_MAX) || v != std::floor(v))
        return false;
    *hz = long(v);
    return true;
}

bool parseSeconds(const QString &text, double *seconds)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0 || v > 7 * 24 * 3600.0)
        return false;
    *seconds = v;
    return true;
}

} // namespace

ParseResult parseHostOptions(const QStringList &arguments, const QString &defaultLibrary, HostOptions *o,
                             QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Loads an ExtIO receiver plug-in, streams from it and reports what arrived.\n"
        "Exit codes: 0 ok, 1 integrity problems (--check-pattern), 2 usage, 3 plug-in could not be\n"
        "loaded or opened, 4 no data (no receiver answered), 5 an output file could not be written,\n"
        "6 the plug-in gave unexpected answers (--no-stream)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption library(
        QStringLiteral("library"), QStringLiteral("Plug-in file to load (default: %1).").arg(defaultLibrary),
        QStringLiteral("PATH"));
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Stream for N seconds (default 10)."), QStringLiteral("N"));
    const QCommandLineOption lo(QStringLiteral("lo"),
                                QStringLiteral("Initial LO frequency in Hz (default 7200000)."),
                                QStringLiteral("HZ"));
    const QCommandLineOption retuneAt(QStringLiteral("retune-at"),
                                      QStringLiteral("Retune S seconds after the start."),
                                      QStringLiteral("S"));
    const QCommandLineOption retuneHz(QStringLiteral("retune-hz"),
                                      QStringLiteral("LO frequency to retune to, in Hz."),
                                      QStringLiteral("F"));
    const QCommandLineOption noGui(QStringLiteral("no-gui"),
                                   QStringLiteral("Do not show the plug-in's control panel."));
    const QCommandLineOption noStream(
        QStringLiteral("no-stream"),
        QStringLiteral("Do not stream: load, initialise, open, read the LO and sample rate, show and hide\n"
                       "the panel, close; exit 0 only if the plug-in answers as the TarnixDDC plug-in."));
    const QCommandLineOption check(
        QStringLiteral("check-pattern"),
        QStringLiteral("Verify the simulator's numbered test signal sample by sample."));
    const QCommandLineOption wav(QStringLiteral("wav"), QStringLiteral("Record the samples to a WAV file."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption spectrum(QStringLiteral("spectrum"),
                                      QStringLiteral("Draw the averaged spectrum to a PNG file."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("summary-json"),
                                  QStringLiteral("Write the summary as JSON."), QStringLiteral("FILE"));
    QCommandLineOption render(QStringLiteral("render-spectrum"),
                              QStringLiteral("Internal: draw saved spectrum DATA to PNG."),
                              QStringLiteral("DATA"));
    render.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, library, seconds, lo, retuneAt, retuneHz, noGui, noStream, check, wav, spectrum,
                       json, render});

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        return ParseResult::Help;
    }
    if ((parser.isSet(spectrum) || parser.isSet(render)) && !spectrumSupported()) {
        *message = QString::fromLatin1(kNoSpectrumText);
        return ParseResult::Error;
    }
    if (parser.isSet(render)) {
        if (parser.positionalArguments().size() != 1) {
            *message = QStringLiteral("--render-spectrum needs DATA and one PNG path");
            return ParseResult::Error;
        }
        o->renderData = parser.value(render);
        o->renderPng = parser.positionalArguments().first();
        return ParseResult::Run;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return ParseResult::Error;
    }

    o->library = parser.isSet(library) ? parser.value(library) : defaultLibrary;
    if (o->library.isEmpty()) {
        *message = QStringLiteral("no plug-in file given; use --library PATH");
        return ParseResult::Error;
    }
    if (parser.isSet(seconds) && !parseSeconds(parser.value(seconds), &o->seconds)) {
        *message =
            QStringLiteral("--seconds wants a number of seconds, not \"%1\"").arg(parser.value(seconds));
        return ParseResult::Error;
    }
    if (parser.isSet(lo) && !parseHz(parser.value(lo), &o->loHz)) {
        *message = QStringLiteral("--lo wants a whole number of Hz, not \"%1\"").arg(parser.value(lo));
        return ParseResult::Error;
    }
    if (parser.isSet(retuneAt) != parser.isSet(retuneHz)) {
        *message = QStringLiteral("--retune-at and --retune-hz go together");
        return ParseResult::Error;
    }
    if (parser.isSet(retuneAt)) {
        o->retune = true;
        if (!parseSeconds(parser.value(retuneAt), &o->retuneAtS)) {
            *message = QStringLiteral("--retune-at wants a number of seconds, not \"%1\"")
                           .arg(parser.value(retuneAt));
            return ParseResult::Error;
        }
        if (!parseHz(parser.value(retuneHz), &o->retuneHz)) {
            *message = QStringLiteral("--retune-hz wants a whole number of Hz, not \"%1\"")
                           .arg(parser.value(retuneHz));
            return ParseResult::Error;
        }
        if (o->retuneAtS >= o->seconds) {
            *message =
                QStringLiteral("--retune-at %1 is not within the %2 s run").arg(o->retuneAtS).arg(o->seconds);
            return ParseResult::Error;
        }
    }
    if (parser.isSet(noStream)) {
        for (const QCommandLineOption *streaming : {&seconds, &retuneAt, &check, &wav, &spectrum}) {
            if (parser.isSet(*streaming)) {
                *message =
                    QStringLiteral("--no-stream does not go with --%1").arg(streaming->names().first());
                return ParseResult::Error;
            }
        }
    }
    o->loGiven = parser.isSet(lo);
    o->noGui = parser.isSet(noGui);
    o->noStream = parser.isSet(noStream);
    o->checkPattern = parser.isSet(check);
    o->wavPath = parser.value(wav);
    o->spectrumPath = parser.value(spectrum);
    o->summaryJsonPath = parser.value(json);
    return ParseResult::Run;
}
