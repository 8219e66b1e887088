#pragma once

// The samples a simulated receiver puts into its stream datagrams: either the verifiable pattern or
// a few tones over noise that follow the tuning and the attenuator like a real front end.

#include "tools/sim/simconfig.h"

#include <complex>
#include <random>
#include <vector>

namespace sim {

constexpr double kFullScale24 = 8388607.0;

class SignalSource
{
public:
    SignalSource(SignalKind kind, const QVector<Tone> &tones, double noiseDbfs, quint64 seed);

    void setSampleRate(double hz);
    void setTunedFrequency(double hz);
    void setAttenuator(bool on);
    double tunedFrequency() const { return m_tunedHz; }

    // Writes `pairs` I/Q samples (3 + 3 bytes, little-endian) starting at stream sample firstSample.
    void fill(uchar *out, int pairs, quint64 firstSample);

    // Baseband offset and linear amplitude of every tone currently inside the band, for checks.
    struct Oscillator
    {
        double offsetHz;
        double amplitude;
        std::complex<double> phase;
        std::complex<double> step;
    };
    const std::vector<Oscillator> &oscillators() const { return m_osc; }

private:
    void rebuild();
    void fillTones(uchar *out, int pairs);

    SignalKind m_kind;
    QVector<Tone> m_tones;
    double m_noiseRms;
    double m_rateHz = kSampleRatesHz[1];
    double m_tunedHz = kDefaultTunedHz;
    bool m_attenuator = false;
    std::vector<Oscillator> m_osc;
    std::vector<float> m_noise; // precomputed Gaussian noise, read from a random offset per block
    std::mt19937_64 m_rng;
};

// Little-endian 24-bit two's complement, as the stream carries it.
inline void put24(uchar *p, qint32 v)
{
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
    p[2] = uchar(v >> 16);
}

} // namespace sim
