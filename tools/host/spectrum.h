#pragma once

#include "protocol/hostinterface.h"

#include <QByteArray>
#include <QString>

#include <vector>

constexpr int kSpectrumPoints = 4096;
constexpr double kFullScale = 2147483648.0; // 2^31: a 32-bit sample of this size is 0 dBFS

// Averages windowed FFT power spectra (Blackman-Harris, FFTW) of consecutive non-overlapping frames.
// The result is in dBFS: a complex tone of full 32-bit amplitude centred on a bin reads 0 dB.
class SpectrumAccumulator
{
public:
    explicit SpectrumAccumulator(int points = kSpectrumPoints);
    ~SpectrumAccumulator();
    SpectrumAccumulator(const SpectrumAccumulator &) = delete;
    SpectrumAccumulator &operator=(const SpectrumAccumulator &) = delete;

    void feed(const IqPair *pairs, int count);
    // Starts a new average (after a retune the old frames describe another frequency).
    void reset();

    int points() const { return m_points; }
    quint64 frames() const { return m_frames; }
    // Average power per bin, lowest frequency first (index points/2 is the LO). Empty without frames.
    std::vector<double> averageDbfs() const;

private:
    void transformFrame();

    const int m_points;
    double *m_in = nullptr; // interleaved re, im (fftw_complex)
    double *m_out = nullptr;
    void *m_plan = nullptr;
    std::vector<double> m_window;
    std::vector<double> m_sum;
    double m_windowGain = 1.0;
    int m_fill = 0;
    quint64 m_frames = 0;
};

// Frequency offset from the LO of bin `index` in a shifted spectrum of `points` bins.
inline double binOffsetHz(int index, int points, double sampleRateHz)
{
    return double(index - points / 2) * sampleRateHz / double(points);
}

// Indices of the `count` strongest local maxima, strongest first; neighbours within `guardBins`
// of a stronger peak (its window skirt) are not reported.
std::vector<int> strongestPeaks(const std::vector<double> &dbfs, int count, int guardBins = 8);

// What the picture shows; saved to a file so a separate process can draw it.
struct SpectrumData
{
    double loHz = 0;
    double sampleRateHz = 0;
    quint64 frames = 0;
    int points = kSpectrumPoints;
    QString span; // "the whole recording" or "after the retune at 5.0 s"
    std::vector<double> dbfs;

    QByteArray toBytes() const;
    bool fromBytes(const QByteArray &bytes); // false for anything that is not a whole saved spectrum
    bool save(const QString &path, QString *error) const;
    bool load(const QString &path, QString *error);
};
