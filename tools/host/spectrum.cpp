// The FFT part of the spectrum (FFTW); builds without FFTW use spectrum_none.cpp instead.
#include "tools/host/spectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;
} // namespace

SpectrumAccumulator::SpectrumAccumulator(int points)
    : m_points(std::max(points, 16)), m_window(size_t(m_points)), m_sum(size_t(m_points), 0.0)
{
    m_in = reinterpret_cast<double *>(fftw_malloc(sizeof(fftw_complex) * size_t(m_points)));
    m_out = reinterpret_cast<double *>(fftw_malloc(sizeof(fftw_complex) * size_t(m_points)));
    m_plan = fftw_plan_dft_1d(m_points, reinterpret_cast<fftw_complex *>(m_in),
                              reinterpret_cast<fftw_complex *>(m_out), FFTW_FORWARD, FFTW_ESTIMATE);
    // Four-term Blackman-Harris: sidelobes below -92 dB, so weak signals next to strong ones stay visible.
    double sum = 0;
    for (int n = 0; n < m_points; ++n) {
        const double x = 2.0 * kPi * n / m_points;
        m_window[size_t(n)] =
            0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        sum += m_window[size_t(n)];
    }
    m_windowGain = sum;
}

SpectrumAccumulator::~SpectrumAccumulator()
{
    fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
    fftw_free(m_in);
    fftw_free(m_out);
}

void SpectrumAccumulator::reset()
{
    std::fill(m_sum.begin(), m_sum.end(), 0.0);
    m_fill = 0;
    m_frames = 0;
}

void SpectrumAccumulator::feed(const IqPair *pairs, int count)
{
    for (int i = 0; i < count; ++i) {
        const double w = m_window[size_t(m_fill)];
        m_in[2 * m_fill] = pairs[i].i * w;
        m_in[2 * m_fill + 1] = pairs[i].q * w;
        if (++m_fill == m_points) {
            transformFrame();
            m_fill = 0;
        }
    }
}

void SpectrumAccumulator::transformFrame()
{
    fftw_execute(static_cast<fftw_plan>(m_plan));
    for (int k = 0; k < m_points; ++k) {
        const double re = m_out[2 * k], im = m_out[2 * k + 1];
        m_sum[size_t(k)] += re * re + im * im;
    }
    ++m_frames;
}

std::vector<double> SpectrumAccumulator::averageDbfs() const
{
    if (m_frames == 0)
        return {};
    const double scale = 1.0 / (double(m_frames) * std::pow(m_windowGain * kFullScale, 2));
    std::vector<double> out(static_cast<size_t>(m_points));
    const int half = m_points / 2;
    for (int k = 0; k < m_points; ++k) {
        // FFT bin k >= half holds negative frequencies; put them first.
        const int shifted = (k + half) % m_points;
        const double p = m_sum[size_t(k)] * scale;
        out[size_t(shifted)] = p > 1e-30 ? 10.0 * std::log10(p) : -300.0;
    }
    return out;
}
