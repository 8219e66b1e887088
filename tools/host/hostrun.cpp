#include "tools/host/hostrun.h"

#include "tools/host/blockring.h"
#include "tools/host/callbacksink.h"
#include "tools/host/extiolibrary.h"
#include "tools/host/patternchecker.h"
#include "tools/host/spectrum.h"
#include "tools/host/wavwriter.h"

#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
constexpr int kRingBlocks = 1024; // 16 MiB: 6.7 s at the highest rate, 80 ms at 27 MS/s
constexpr int kDrainIntervalMs = 10;
// While nothing arrives the drain interval doubles up to this, so a host waiting for a silent
// receiver costs next to nothing; 40 ms at 52 MS/s, beyond what the benchmark's simulator
// reaches, still fits in the ring.
constexpr int kIdleDrainIntervalMs = 40;
// The receiver is tuned just after its stream starts, and blocks already on their way after a
// retune still show the old LO: leave this much signal out of the spectrum each time.
constexpr double kSettleS = 0.2;
constexpr int kNameBytes = 256; // hosts hand InitHW generous buffers
constexpr qint64 kNsPerS = 1'000'000'000;
// What the TarnixDDC plug-in says of itself (--no-stream checks it): 32-bit integer I/Q, and the
// three rates its panel offers.
constexpr char kExpectedName[] = "Receiver TarnixDDC";
constexpr char kExpectedModel[] = "TarnixDDC";
constexpr int kExpectedHwType = 6;
constexpr long kExpectedRatesHz[] = {78125, 156250, 312500};
} // namespace

QStringList checkAnswers(const RunSummary &s, long expectedLoHz)
{
    QStringList problems;
    if (s.name != QLatin1String(kExpectedName))
        problems << QStringLiteral("InitHW gave the name \"%1\", not \"%2\"")
                        .arg(s.name, QLatin1String(kExpectedName));
    if (s.model != QLatin1String(kExpectedModel))
        problems << QStringLiteral("InitHW gave the model \"%1\", not \"%2\"")
                        .arg(s.model, QLatin1String(kExpectedModel));
    if (s.hwType != kExpectedHwType)
        problems << QStringLiteral("InitHW gave the type %1, not %2").arg(s.hwType).arg(kExpectedHwType);
    if (s.reportedLoHz != expectedLoHz)
        problems << QStringLiteral("GetHWLO returned %1, not %2").arg(s.reportedLoHz).arg(expectedLoHz);
    if (!std::count(std::begin(kExpectedRatesHz), std::end(kExpectedRatesHz), s.sampleRateHz))
        problems
            << QStringLiteral("GetHWSR returned %1, not one of 78125, 156250, 312500").arg(s.sampleRateHz);
    return problems;
}

HostRun::HostRun(const HostOptions &options, PlainStream &out, PlainStream &err)
    : m_options(options), m_out(out), m_err(err), m_library(new ExtioLibrary),
      m_ring(new BlockRing(kRingBlocks)), m_checker(new PatternChecker), m_wav(new WavWriter),
      m_spectrum(new SpectrumAccumulator)
{
    m_sink.reset(new CallbackSink(m_ring.get()));
    m_summary.library = options.library;
    m_summary.loHz = options.loHz;
    m_summary.checkedPattern = options.checkPattern;
    m_summary.noStream = options.noStream;
    m_summary.wavPath = options.wavPath;
    m_summary.spectrumPath = options.spectrumPath;
    m_summary.hostThread = reinterpret_cast<quintptr>(QThread::currentThreadId());
}

HostRun::~HostRun() = default;

int HostRun::fail(int code, const QString &message)
{
    m_summary.exitCode = code;
    m_summary.error = message;
    m_err << "tarnix-host: " << message << endLine;
    return code;
}

bool HostRun::openOutputs()
{
    // Find out about an unwritable picture or summary before streaming, not after.
    for (const QString &path : {m_options.spectrumPath, m_options.summaryJsonPath}) {
        if (path.isEmpty())
            continue;
        const QFileInfo dir(QFileInfo(path).absolutePath());
        if (!dir.isDir() || !dir.isWritable()) {
            fail(kExitOutput, QStringLiteral("cannot write %1: the folder %2 is missing or read-only")
                                  .arg(path, dir.filePath()));
            return false;
        }
    }
    // The real rate is patched in when the file is finished.
    if (!m_options.wavPath.isEmpty() && !m_wav->open(m_options.wavPath, 0)) {
        fail(kExitOutput, m_wav->errorString());
        return false;
    }
    return true;
}

int HostRun::exec()
{
    if (!openOutputs())
        return m_summary.exitCode;
    if (!m_library->load(m_options.library))
        return fail(kExitLibrary, m_library->errorString());
    const ExtioExports &x = m_library->exports();

    char name[kNameBytes] = {};
    char model[kNameBytes] = {};
    int type = 0;
    const bool initialised = x.initHw(name, model, &type);
    name[kNameBytes - 1] = model[kNameBytes - 1] = '\0';
    m_summary.name = QString::fromLocal8Bit(name);
    m_summary.model = QString::fromLocal8Bit(model);
    m_summary.hwType = type;
    if (!initialised) {
        m_library->unload();
        return fail(kExitLibrary, QStringLiteral("the plug-in's InitHW reported failure"));
    }
    if (!x.openHw()) {
        m_library->unload();
        return fail(kExitLibrary, QStringLiteral("the plug-in's OpenHW reported failure"));
    }
    m_out << "Loaded " << m_options.library << ": " << m_summary.name << " (" << m_summary.model << ", type "
          << type << ")" << endLine;
    x.setCallback(&CallbackSink::callback);
    return m_options.noStream ? checkWithoutStream() : streamSession();
}

int HostRun::checkWithoutStream()
{
    const ExtioExports &x = m_library->exports();
    // A host sets its LO before asking for it only when it has one to set.
    if (m_options.loGiven)
        x.setHwLo(m_options.loHz);
    m_summary.reportedLoHz = x.getHwLo();
    m_summary.sampleRateHz = x.getHwSr();
    if (!m_options.noGui)
        x.showGui();
    x.hideGui();
    x.closeHw();
    m_sink.reset();
    m_library->unload();

    m_out << "InitHW: true, name \"" << m_summary.name << "\", model \"" << m_summary.model << "\", type "
          << m_summary.hwType << endLine;
    m_out << "GetHWLO: " << m_summary.reportedLoHz << " Hz" << endLine;
    m_out << "GetHWSR: " << m_summary.sampleRateHz << " samples/s" << endLine;
    const QStringList problems = checkAnswers(m_summary, m_options.loHz);
    if (!problems.isEmpty())
        return fail(
            kExitCheck,
            QStringLiteral("the plug-in answered unexpectedly: %1").arg(problems.join(QStringLiteral("; "))));
    m_out << "All answers as expected" << endLine;
    m_summary.exitCode = kExitOk;
    return kExitOk;
}

int HostRun::streamSession()
{
    const ExtioExports &x = m_library->exports();
    x.setHwLo(m_options.loHz);
    m_summary.sampleRateHz = x.getHwSr();
    if (!m_options.noGui)
        x.showGui();

    stream();

    if (!m_options.noGui)
        x.hideGui();
    x.closeHw();
    // Late calls from a misbehaving plug-in find no sink; the callback itself lives in this program.
    const CallbackStats stats = m_sink->stats();
    m_sink.reset();
    m_library->unload();
    drain();

    m_summary.callbacks = stats;
    m_summary.hostLostPairs = m_ring->lostPairs();
    m_summary.pattern = m_checker->report();
    m_summary.spectrumFrames = m_spectrum->frames();
    m_spectrumDbfs = m_spectrum->averageDbfs();
    const std::vector<int> peaks = strongestPeaks(m_spectrumDbfs, 1);
    if (!peaks.empty()) {
        m_summary.hasPeak = true;
        m_summary.peakOffsetHz = binOffsetHz(peaks[0], m_spectrum->points(), double(m_summary.sampleRateHz));
        m_summary.peakDbfs = m_spectrumDbfs[size_t(peaks[0])];
    }
    if (!m_options.wavPath.isEmpty()) {
        m_wav->setSampleRate(quint32(std::max(m_summary.sampleRateHz, 0L)));
        if (!m_wav->finish())
            m_outputFailed = true;
        m_summary.wavFrames = m_wav->framesWritten();
        m_summary.wavTruncated = m_wav->truncated();
    }

    if (m_summary.startHwResult < 0)
        return fail(
            kExitNoData,
            QStringLiteral(
                "no data: StartHW returned %1, no receiver answered or the plug-in could not start it")
                .arg(m_summary.startHwResult));
    if (stats.dataCalls == 0)
        return fail(kExitNoData,
                    QStringLiteral("no data: no receiver answered (no sample block arrived in %1 s)")
                        .arg(m_options.seconds));
    if (m_options.checkPattern && !m_summary.pattern.clean())
        return fail(kExitIntegrity, QStringLiteral("the test signal arrived damaged"));
    if (m_outputFailed)
        return fail(kExitOutput, m_wav->errorString());
    m_summary.exitCode = kExitOk;
    return kExitOk;
}

void HostRun::stream()
{
    const ExtioExports &x = m_library->exports();
    m_summary.startHwNs = m_sink->nowNs();
    m_summary.startHwResult = x.startHw(m_options.loHz);
    if (m_summary.startHwResult < 0) {
        m_out << "StartHW returned " << m_summary.startHwResult << endLine;
        return;
    }
    // Some plug-ins settle their rate only once started.
    const long rate = x.getHwSr();
    if (rate > 0)
        m_summary.sampleRateHz = rate;
    m_spectrumSkipPairs = settlePairs();
    m_out << "Streaming for " << m_options.seconds << " s at " << m_summary.sampleRateHz << " samples/s, LO "
          << m_options.loHz << " Hz" << endLine;

    const qint64 start = m_summary.startHwNs;
    const qint64 end = start + qint64(m_options.seconds * kNsPerS);
    const qint64 retuneAt = m_options.retune ? start + qint64(m_options.retuneAtS * kNsPerS) : -1;
    bool retuned = false;
    int printedSecond = 0;
    quint64 pairsAtLastPrint = 0;
    qint64 lastPrintNs = start;
    int intervalMs = kDrainIntervalMs;
    for (qint64 now = m_sink->nowNs(); now < end; now = m_sink->nowNs()) {
        if (retuneAt >= 0 && !retuned && now >= retuneAt) {
            x.setHwLo(m_options.retuneHz);
            retuned = true;
            m_summary.retuned = true;
            m_summary.retuneAtS = m_options.retuneAtS;
            m_summary.retuneHz = m_options.retuneHz;
            m_spectrum->reset();
            m_spectrumSkipPairs = settlePairs();
            m_out << "Retuned to " << m_options.retuneHz << " Hz" << endLine;
        }
        intervalMs = drain() > 0 ? kDrainIntervalMs : std::min(2 * intervalMs, kIdleDrainIntervalMs);
        const int second = int((now - start) / kNsPerS);
        if (second > printedSecond) {
            printedSecond = second;
            const quint64 pairs = m_sink->stats().pairs;
            printProgress(double(now - start) / kNsPerS, pairs,
                          double(pairs - pairsAtLastPrint) * kNsPerS /
                              double(std::max<qint64>(now - lastPrintNs, 1)));
            pairsAtLastPrint = pairs;
            lastPrintNs = now;
        }
        const qint64 left = (end - m_sink->nowNs()) / 1'000'000;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<qint64>(left, 0, intervalMs)));
    }
    x.stopHw();
    m_summary.seconds = double(m_sink->nowNs() - start) / kNsPerS;
    drain();
    if (m_options.retune && !retuned)
        m_out << "The run ended before the retune" << endLine;
    m_summary.spectrumSpan =
        retuned ? QStringLiteral("from %1 s after the retune at %2 s").arg(kSettleS).arg(m_options.retuneAtS)
                : QStringLiteral("the whole recording but its first %1 s").arg(kSettleS);
}

int HostRun::drain()
{
    int blocks = 0;
    for (; const SampleBlock *block = m_ring->peek(); ++blocks) {
        if (block->pairsLostBefore)
            m_checker->hostLost(block->pairsLostBefore);
        if (m_options.checkPattern)
            m_checker->feed(block->pairs, block->count);
        if (!m_options.wavPath.isEmpty() && !m_wav->write(block->pairs, block->count) && !m_outputFailed) {
            m_outputFailed = true;
            m_err << "tarnix-host: " << m_wav->errorString() << endLine;
        }
        if (!m_options.spectrumPath.isEmpty()) {
            const int skipped = int(std::min<quint64>(m_spectrumSkipPairs, quint64(block->count)));
            m_spectrumSkipPairs -= quint64(skipped);
            m_spectrum->feed(block->pairs + skipped, block->count - skipped);
        }
        m_ring->release();
    }
    return blocks;
}

quint64 HostRun::settlePairs() const
{
    return quint64(std::max(m_summary.sampleRateHz, 0L) * kSettleS);
}

void HostRun::printProgress(double elapsedS, quint64 pairs, double rateHz)
{
    const CallbackStats s = m_sink->stats();
    m_out << QStringLiteral("%1 s: %2 blocks, %3 pairs, %4 samples/s")
                 .arg(elapsedS, 5, 'f', 1)
                 .arg(s.dataCalls)
                 .arg(pairs)
                 .arg(rateHz, 0, 'f', 0)
          << endLine;
}
