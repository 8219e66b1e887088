#include "tools/host/runsummary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

QString threadIdText(quintptr id)
{
    return QStringLiteral("0x%1").arg(quint64(id), 0, 16);
}

double RunSummary::achievedRateHz() const
{
    // Pairs after the first block over the time they took: the first block's own pairs were
    // gathered before its timestamp.
    const qint64 span = callbacks.lastBlockNs - callbacks.firstBlockNs;
    if (callbacks.dataCalls < 2 || span <= 0)
        return 0;
    const double pairsAfterFirst =
        double(callbacks.pairs) * double(callbacks.dataCalls - 1) / double(callbacks.dataCalls);
    return pairsAfterFirst / (double(span) * 1e-9);
}

double RunSummary::firstBlockMs() const
{
    if (callbacks.firstBlockNs < 0 || startHwNs < 0)
        return -1;
    return double(callbacks.firstBlockNs - startHwNs) / 1e6;
}

QByteArray RunSummary::toJson() const
{
    QJsonObject o;
    o[QStringLiteral("library")] = library;
    o[QStringLiteral("name")] = name;
    o[QStringLiteral("model")] = model;
    o[QStringLiteral("hw_type")] = hwType;
    o[QStringLiteral("lo_hz")] = double(loHz);
    o[QStringLiteral("retuned")] = retuned;
    if (retuned) {
        o[QStringLiteral("retune_at_s")] = retuneAtS;
        o[QStringLiteral("retune_hz")] = double(retuneHz);
    }
    o[QStringLiteral("sample_rate_hz")] = double(sampleRateHz);
    if (noStream) {
        o[QStringLiteral("no_stream")] = true;
        o[QStringLiteral("reported_lo_hz")] = double(reportedLoHz);
    }
    o[QStringLiteral("start_hw_result")] = startHwResult;
    o[QStringLiteral("seconds")] = seconds;
    o[QStringLiteral("blocks")] = double(callbacks.dataCalls);
    o[QStringLiteral("pairs")] = double(callbacks.pairs);
    o[QStringLiteral("status_calls")] = double(callbacks.statusCalls);
    o[QStringLiteral("irregular_calls")] = double(callbacks.irregularCalls);
    o[QStringLiteral("achieved_rate_hz")] = achievedRateHz();
    o[QStringLiteral("first_block_ms")] = firstBlockMs() < 0 ? QJsonValue() : QJsonValue(firstBlockMs());
    o[QStringLiteral("callback_thread")] =
        callbacks.callbackThread ? threadIdText(callbacks.callbackThread) : QString();
    o[QStringLiteral("host_threads")] = QJsonArray{threadIdText(hostThread)};
    o[QStringLiteral("callback_on_host_thread")] =
        callbacks.callbackThread != 0 && callbacks.callbackThread == hostThread;
    o[QStringLiteral("callback_threads_varied")] = callbacks.severalCallbackThreads;
    o[QStringLiteral("host_lost_pairs")] = double(hostLostPairs);
    if (checkedPattern) {
        QJsonObject p;
        p[QStringLiteral("clean")] = pattern.clean();
        p[QStringLiteral("pairs")] = double(pattern.pairs);
        p[QStringLiteral("first_index")] =
            pattern.started ? QJsonValue(double(pattern.firstIndex)) : QJsonValue();
        p[QStringLiteral("gap_datagrams")] = double(pattern.gapDatagrams);
        p[QStringLiteral("gap_samples")] = double(pattern.gapSamples);
        p[QStringLiteral("duplicate_datagrams")] = double(pattern.duplicateDatagrams);
        p[QStringLiteral("duplicate_samples")] = double(pattern.duplicateSamples);
        p[QStringLiteral("reorderings")] = double(pattern.reorderings);
        p[QStringLiteral("wrong_values")] = double(pattern.wrongValues);
        o[QStringLiteral("pattern")] = p;
    }
    if (!wavPath.isEmpty())
        o[QStringLiteral("wav")] = QJsonObject{{QStringLiteral("path"), wavPath},
                                               {QStringLiteral("frames"), double(wavFrames)},
                                               {QStringLiteral("truncated"), wavTruncated}};
    if (!spectrumPath.isEmpty()) {
        QJsonObject s{{QStringLiteral("path"), spectrumPath},
                      {QStringLiteral("span"), spectrumSpan},
                      {QStringLiteral("frames"), double(spectrumFrames)}};
        if (hasPeak) {
            s[QStringLiteral("peak_offset_hz")] = peakOffsetHz;
            s[QStringLiteral("peak_dbfs")] = peakDbfs;
        }
        o[QStringLiteral("spectrum")] = s;
    }
    o[QStringLiteral("exit_code")] = exitCode;
    o[QStringLiteral("error")] = error;
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QString RunSummary::toText() const
{
    QStringList l;
    l << QStringLiteral("Summary");
    l << QStringLiteral("  plug-in:            %1 (%2, model %3, type %4)")
             .arg(library, name, model)
             .arg(hwType);
    l << QStringLiteral("  LO:                 %1 Hz%2")
             .arg(loHz)
             .arg(retuned ? QStringLiteral(", retuned to %1 Hz at %2 s").arg(retuneHz).arg(retuneAtS)
                          : QString());
    l << QStringLiteral("  streamed:           %1 s, StartHW returned %2")
             .arg(seconds, 0, 'f', 2)
             .arg(startHwResult);
    l << QStringLiteral("  blocks:             %1 (%2 pairs)").arg(callbacks.dataCalls).arg(callbacks.pairs);
    if (callbacks.irregularCalls || callbacks.statusCalls)
        l << QStringLiteral("  odd calls:          %1 blocks not of 2048 pairs, %2 status calls")
                 .arg(callbacks.irregularCalls)
                 .arg(callbacks.statusCalls);
    l << QStringLiteral("  sample rate:        %1 samples/s achieved, %2 reported by the plug-in")
             .arg(achievedRateHz(), 0, 'f', 1)
             .arg(sampleRateHz);
    l << QStringLiteral("  first block:        %1")
             .arg(firstBlockMs() < 0 ? QStringLiteral("none")
                                     : QStringLiteral("%1 ms after StartHW").arg(firstBlockMs(), 0, 'f', 1));
    l << QStringLiteral("  callback thread:    %1%2; host thread %3")
             .arg(callbacks.callbackThread ? threadIdText(callbacks.callbackThread) : QStringLiteral("none"))
             .arg(callbacks.severalCallbackThreads ? QStringLiteral(" (and others)") : QString())
             .arg(threadIdText(hostThread));
    if (hostLostPairs)
        l << QStringLiteral("  host fell behind:   %1 pairs dropped by the host").arg(hostLostPairs);
    if (checkedPattern) {
        const PatternReport &p = pattern;
        l << QStringLiteral("  test signal:        %1")
                 .arg(p.clean() ? QStringLiteral("intact") : QStringLiteral("PROBLEMS"));
        l << QStringLiteral("    pairs checked     %1, first index %2").arg(p.pairs).arg(p.firstIndex);
        l << QStringLiteral("    gaps              %1 samples (%2 datagrams)")
                 .arg(p.gapSamples)
                 .arg(p.gapDatagrams);
        l << QStringLiteral("    duplicates        %1 samples (%2 datagrams)")
                 .arg(p.duplicateSamples)
                 .arg(p.duplicateDatagrams);
        l << QStringLiteral("    reorderings       %1").arg(p.reorderings);
        l << QStringLiteral("    wrong values      %1").arg(p.wrongValues);
    }
    if (!wavPath.isEmpty())
        l << QStringLiteral("  recording:          %1 (%2 frames%3)")
                 .arg(wavPath)
                 .arg(wavFrames)
                 .arg(wavTruncated ? QStringLiteral(", cut at the 4 GiB WAV limit") : QString());
    if (!spectrumPath.isEmpty())
        l << QStringLiteral("  spectrum:           %1 (%2 FFTs, %3%4)")
                 .arg(spectrumPath)
                 .arg(spectrumFrames)
                 .arg(spectrumSpan)
                 .arg(hasPeak ? QStringLiteral("; strongest at %1 Hz from the LO, %2 dBFS")
                                    .arg(peakOffsetHz, 0, 'f', 1)
                                    .arg(peakDbfs, 0, 'f', 1)
                              : QString());
    if (!error.isEmpty())
        l << QStringLiteral("  error:              %1").arg(error);
    return l.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
