#include "tools/sim/signalsource.h"

#include "tools/sim/pattern.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr int kNoiseTableValues = 1 << 16;
constexpr double kTwoPi = 6.283185307179586;

qint32 clamp24(double v)
{
    return qint32(std::lround(std::clamp(v, -kFullScale24 - 1.0, kFullScale24)));
}
} // namespace

QVector<Tone> defaultTones()
{
    return {
        {7150000.0, -40.0}, {7185000.0, -62.0}, {7200600.0, -50.0}, {7213000.0, -75.0}, {7230000.0, -55.0}};
}

SignalSource::SignalSource(SignalKind kind, const QVector<Tone> &tones, double noiseDbfs, quint64 seed)
    : m_kind(kind), m_tones(tones), m_noiseRms(kFullScale24 * std::pow(10.0, noiseDbfs / 20.0)), m_rng(seed)
{
    if (m_kind == SignalKind::Tones) {
        // Per-component deviation so that I and Q together carry the requested noise power.
        std::normal_distribution<float> gauss(0.0f, float(m_noiseRms / std::sqrt(2.0)));
        m_noise.resize(kNoiseTableValues);
        for (float &v : m_noise)
            v = gauss(m_rng);
    }
    rebuild();
}

void SignalSource::setSampleRate(double hz)
{
    m_rateHz = hz;
    rebuild();
}

void SignalSource::setTunedFrequency(double hz)
{
    m_tunedHz = hz;
    rebuild();
}

void SignalSource::setAttenuator(bool on)
{
    m_attenuator = on;
    rebuild();
}

void SignalSource::rebuild()
{
    m_osc.clear();
    const double gain = m_attenuator ? std::pow(10.0, -kAttenuatorDb / 20.0) : 1.0;
    for (const Tone &t : m_tones) {
        const double offset = t.hz - m_tunedHz;
        if (std::abs(offset) >= m_rateHz / 2)
            continue;
        const double w = kTwoPi * offset / m_rateHz;
        m_osc.push_back({offset,
                         kFullScale24 * std::pow(10.0, t.dbfs / 20.0) * gain,
                         {1.0, 0.0},
                         {std::cos(w), std::sin(w)}});
    }
}

void SignalSource::fill(uchar *out, int pairs, quint64 firstSample)
{
    if (m_kind == SignalKind::Pattern) {
        for (int k = 0; k < pairs; ++k) {
            const quint64 n = firstSample + quint64(k);
            put24(out + 6 * k, qint32(pattern::i24(n)));
            put24(out + 6 * k + 3, qint32(pattern::q24(n)));
        }
        return;
    }
    fillTones(out, pairs);
}

void SignalSource::fillTones(uchar *out, int pairs)
{
    const size_t start = size_t(m_rng() % (kNoiseTableValues - 2 * size_t(pairs)));
    const float *noise = m_noise.data() + start;
    for (int k = 0; k < pairs; ++k) {
        std::complex<double> sum(noise[2 * k], noise[2 * k + 1]);
        for (Oscillator &o : m_osc) {
            sum += o.amplitude * o.phase;
            o.phase *= o.step;
        }
        put24(out + 6 * k, clamp24(sum.real()));
        put24(out + 6 * k + 3, clamp24(sum.imag()));
    }
    // Keeps the rotating phasors on the unit circle despite rounding.
    for (Oscillator &o : m_osc)
        o.phase /= std::abs(o.phase);
}

} // namespace sim
