#pragma once

#include <QString>
#include <QStringList>

// Exit codes of tarnix-host.
enum ExitCode {
    kExitOk = 0,
    kExitIntegrity = 1, // --check-pattern found problems
    kExitUsage = 2,
    kExitLibrary = 3, // the plug-in could not be loaded, lacks exports or refused to open
    kExitNoData = 4,  // StartHW failed or no block arrived
    kExitOutput = 5,  // a WAV, PNG or JSON file could not be written
    kExitCheck = 6,   // --no-stream: the plug-in answered, but not as the TarnixDDC plug-in should
};

constexpr char kNoSpectrumText[] = "this build has no spectrum support";

struct HostOptions
{
    QString library;
    double seconds = 10.0;
    long loHz = 7200000;
    bool retune = false;
    double retuneAtS = 0.0;
    long retuneHz = 0;
    bool loGiven = false;
    bool noGui = false;
    // Only the calls around a stream, none that starts one: checks that the plug-in loads and
    // answers as it should without any receiver.
    bool noStream = false;
    bool checkPattern = false;
    QString wavPath;
    QString spectrumPath;
    QString summaryJsonPath;
    // Drawing child mode: turn a saved spectrum into a PNG, nothing else.
    QString renderData;
    QString renderPng;
};

enum class ParseResult { Run, Help, Error };

// Parses arguments (argv[0] first). `--spectrum` is refused when this build has no spectrum support. On
// Error, `message` says what is wrong; on Help it holds the help text.
ParseResult parseHostOptions(const QStringList &arguments, const QString &defaultLibrary,
                             HostOptions *options, QString *message);
