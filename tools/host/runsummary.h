#pragma once

#include "tools/host/callbacksink.h"
#include "tools/host/patternchecker.h"

#include <QByteArray>
#include <QString>

// Everything a run found out, for the printed summary and the JSON file.
struct RunSummary
{
    QString library;
    QString name, model;
    int hwType = 0;
    long loHz = 0;
    bool retuned = false;
    double retuneAtS = 0;
    long retuneHz = 0;
    long sampleRateHz = 0; // GetHWSR
    bool noStream = false;
    long reportedLoHz = 0; // GetHWLO, read with --no-stream
    int startHwResult = 0;
    double seconds = 0; // time streamed, StartHW to StopHW
    CallbackStats callbacks;
    qint64 startHwNs = -1; // on the callback sink's clock
    quintptr hostThread = 0;
    quint64 hostLostPairs = 0;
    bool checkedPattern = false;
    PatternReport pattern;
    QString wavPath;
    quint64 wavFrames = 0;
    bool wavTruncated = false;
    QString spectrumPath;
    QString spectrumSpan;
    quint64 spectrumFrames = 0;
    bool hasPeak = false;
    double peakOffsetHz = 0;
    double peakDbfs = 0;
    int exitCode = 0;
    QString error;

    double achievedRateHz() const;
    double firstBlockMs() const; // -1 without a block

    QByteArray toJson() const;
    QString toText() const;
};

QString threadIdText(quintptr id);
