#pragma once

#include "tools/host/hostoptions.h"
#include "tools/host/runsummary.h"

#include "tools/host/plainfile.h"

#include <memory>

class BlockRing;
class CallbackSink;
class ExtioLibrary;
class PatternChecker;
class SpectrumAccumulator;
class WavWriter;

// One session with a plug-in, in the order ExtIO hosts use: load, InitHW, OpenHW, SetCallback,
// SetHWLO, GetHWSR, ShowGUI, StartHW, SetHWLO while streaming, StopHW, HideGUI, CloseHW, unload.
// The main thread drives the plug-in and drains the sample ring into the checker, the WAV file
// and the spectrum; the plug-in's thread only fills the ring.
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
    bool openOutputs();
    void stream();
    void drain();
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
