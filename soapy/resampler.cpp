#include "soapy/resampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr int kTaps = Resampler::kUp * Resampler::kTapsPerPhase;
constexpr int kWindowFloats = 2 * Resampler::kTapsPerPhase;
static_assert(kWindowFloats % 8 == 0, "the window is summed eight floats at a time");
// At the upsampled 1.25 MHz: the cutoff halfway between the passband's 100 kHz and the output's band
// edge at 125 kHz, and the Kaiser window that gives the stopband its depth in 224 taps.
constexpr double kUpsampledRateHz = 1.25e6;
constexpr double kCutoffHz = 112.5e3;
constexpr double kKaiserBeta = 7.0;
constexpr double kPi = 3.14159265358979323846;
// 2^31 as a float, and the largest float below it, so that no output leaves the 32-bit range.
constexpr float kFullScale = 2147483648.0f;
constexpr float kLargestBelowFullScale = 2147483520.0f;

// Per polyphase branch, the taps in the order of the window (oldest input first), each twice to
// meet I and Q of the interleaved window.
struct Branches
{
    alignas(16) float taps[Resampler::kUp][kWindowFloats];
};

Branches design()
{
    std::array<double, kTaps> h{};
    const double fc = kCutoffHz / kUpsampledRateHz;
    for (int k = 0; k < kTaps; ++k) {
        const double t = k - (kTaps - 1) / 2.0;
        const double sinc = std::sin(2 * kPi * fc * t) / (kPi * t);
        const double x = 2.0 * k / (kTaps - 1) - 1.0;
        const double window = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - x * x)) /
                              std::cyl_bessel_i(0.0, kKaiserBeta);
        h[size_t(k)] = sinc * window;
    }
    Branches b{};
    for (int r = 0; r < Resampler::kUp; ++r) {
        // Branch r weighs input i - p with h[4p + r]; the filter is symmetric, so the window's m-th
        // input (i - (P - 1) + m) takes h[4m + 3 - r]. Each branch sums to 1: every branch has unity
        // gain at 0 Hz, so a steady input comes out steady.
        double sum = 0;
        for (int m = 0; m < Resampler::kTapsPerPhase; ++m)
            sum += h[size_t(Resampler::kUp * m + Resampler::kUp - 1 - r)];
        for (int m = 0; m < Resampler::kTapsPerPhase; ++m) {
            const float tap = float(h[size_t(Resampler::kUp * m + Resampler::kUp - 1 - r)] / sum);
            b.taps[r][2 * m] = tap;
            b.taps[r][2 * m + 1] = tap;
        }
    }
    return b;
}

const Branches &branches()
{
    static const Branches b = design();
    return b;
}

qint32 saturate(float v)
{
    if (v >= kLargestBelowFullScale)
        return qint32(2147483647);
    if (v <= -kFullScale)
        return qint32(-2147483647 - 1);
    return qint32(v + (v >= 0 ? 0.5f : -0.5f));
}

} // namespace

Resampler::Resampler()
{
    reset();
}

void Resampler::reset()
{
    std::memset(m_history, 0, sizeof m_history);
    m_next = 0;
    m_cycle = 0;
}

size_t Resampler::process(const IqPair *in, size_t count, IqPair *out)
{
    const Branches &b = branches();
    size_t made = 0;
    for (size_t k = 0; k < count; ++k) {
        const float i = float(in[k].i);
        const float q = float(in[k].q);
        m_history[2 * m_next] = m_history[2 * (m_next + kTapsPerPhase)] = i;
        m_history[2 * m_next + 1] = m_history[2 * (m_next + kTapsPerPhase) + 1] = q;
        m_next = m_next + 1 == kTapsPerPhase ? 0 : m_next + 1;
        const int phase = m_cycle;
        m_cycle = m_cycle + 1 == kDown ? 0 : m_cycle + 1;
        if (phase >= kUp)
            continue;
        // The window, oldest first, starts where the next input will go.
        const float *window = m_history + 2 * m_next;
        const float *taps = b.taps[phase];
        // Eight sums side by side, which the compiler turns into vector operations; even ones are I.
        float acc[8] = {};
        for (int n = 0; n < kWindowFloats; n += 8) {
            for (int l = 0; l < 8; ++l)
                acc[l] += taps[n + l] * window[n + l];
        }
        out[made].i = saturate((acc[0] + acc[2]) + (acc[4] + acc[6]));
        out[made].q = saturate((acc[1] + acc[3]) + (acc[5] + acc[7]));
        ++made;
    }
    return made;
}
