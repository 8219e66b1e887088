#pragma once

#include "tools/host/hostoptions.h"
#include "tools/host/runsummary.h"

#include "tools/host/plainfile.h"

#include <QStringList>

#include <memory>

class BlockRing;
class CallbackSink;
class ExtioLibrary;
class PatternChecker;
class SpectrumAccumulator;
class WavWriter;

// The problems, in plain words, with what a plug-in said of itself against the TarnixDDC plug-in:
// name, model, type, GetHWLO (expected `expectedLoHz`) and GetHWSR. Empty when all is right.
QStringList checkAnswers(const RunSummary &summary, long expectedLoHz);

// One session with a plug-in, in the order ExtIO hosts use: load, InitHW, OpenHW, SetCallback,
// SetHWLO, GetHWSR, ShowGUI, StartHW, SetHWLO while streaming, StopHW, HideGUI, CloseHW, unload.
// The main thread drives the plug-in and drains the sample ring into the checker, the WAV file
// and the spectrum; the plug-in's thread only fills the ring. With --no-stream: load, InitHW, OpenHW,
// SetCallback, (SetHWLO,) GetHWLO, GetHWSR, ShowGUI, HideGUI, CloseHW, unload, and a check of the
// answers.
class HostRun
{
public:
    HostRun(const HostOptions &options, PlainStream &out, PlainStream &err);
    ~HostRun();

    // Runs the session up to the unload. The spectrum is left in spectrumData() for drawing.
    int exec();
    const RunSummary &summary() const { return m_summary; }
    RunSummary &summary() { return m_summary; }
    const std::vector<double> &spectrumDbfs() const { return m_spectrumDbfs; }

private:
    int fail(int code, const QString &message);
    int checkWithoutStream();
    int streamSession();
    bool openOutputs();
    void stream();
    // Hands every block waiting to the checks and outputs; returns how many there were.
    int drain();
    quint64 settlePairs() const;
    void printProgress(double elapsedS, quint64 pairs, double rateHz);

    const HostOptions m_options;
    PlainStream &m_out;
    PlainStream &m_err;
    RunSummary m_summary;
    std::unique_ptr<ExtioLibrary> m_library;
    std::unique_ptr<BlockRing> m_ring;
    std::unique_ptr<CallbackSink> m_sink;
    std::unique_ptr<PatternChecker> m_checker;
    std::unique_ptr<WavWriter> m_wav;
    std::unique_ptr<SpectrumAccumulator> m_spectrum;
    std::vector<double> m_spectrumDbfs;
    quint64 m_spectrumSkipPairs = 0; // settling time after the start and after a retune
    bool m_outputFailed = false;
};
