#include "tools/host/spectrum.h"
#include "tools/host/spectrumplot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 312500;

// Complex tones, amplitude relative to full scale, summed.
std::vector<IqPair> tones(const std::vector<std::pair<double, double>> &offsetAndAmplitude, int count)
{
    const double pi = std::acos(-1.0);
    std::vector<IqPair> out(size_t(count), IqPair{0, 0});
    for (int n = 0; n < count; ++n) {
        double i = 0, q = 0;
        for (const auto &[hz, amplitude] : offsetAndAmplitude) {
            i += amplitude * kFullScale * std::cos(2 * pi * hz * n / kRate);
            q += amplitude * kFullScale * std::sin(2 * pi * hz * n / kRate);
        }
        out[size_t(n)] = {qint32(std::lround(std::clamp(i, -kFullScale, kFullScale - 1))),
                          qint32(std::lround(std::clamp(q, -kFullScale, kFullScale - 1)))};
    }
    return out;
}

} // namespace

TEST(Spectrum, StrongestBinsSitAtTheToneOffsets)
{
    const double binHz = kRate / kSpectrumPoints;
    struct Case
    {
        std::vector<std::pair<double, double>> tones; // strongest first
    };
    const std::vector<Case> cases = {
        {{{10000, 0.5}}},
        {{{-37500, 0.25}}},
        {{{0, 0.5}}},
        {{{120000, 0.5}, {-80000, 0.05}}},
        {{{-150000, 0.1}, {3000, 0.001}}},
    };
    for (const Case &c : cases) {
        SpectrumAccumulator s;
        const std::vector<IqPair> pairs = tones(c.tones, kSpectrumPoints * 20 + 100);
        s.feed(pairs.data(), int(pairs.size()));
        EXPECT_EQ(s.frames(), 20u);
        const std::vector<double> db = s.averageDbfs();
        const std::vector<int> peaks = strongestPeaks(db, int(c.tones.size()));
        ASSERT_EQ(peaks.size(), c.tones.size());
        for (size_t t = 0; t < c.tones.size(); ++t)
            EXPECT_NEAR(binOffsetHz(peaks[t], kSpectrumPoints, kRate), c.tones[t].first, binHz)
                << "tone " << t;
    }
}

TEST(Spectrum, LevelsAreInDbfs)
{
    // A tone centred on a bin: full scale reads 0 dBFS, one of a thousandth -60 dBFS.
    const double binHz = kRate / kSpectrumPoints;
    for (double amplitude : {1.0, 0.5, 0.001}) {
        SpectrumAccumulator s;
        const std::vector<IqPair> pairs = tones({{binHz * 100, amplitude}}, kSpectrumPoints * 4);
        s.feed(pairs.data(), int(pairs.size()));
        const std::vector<double> db = s.averageDbfs();
        EXPECT_NEAR(db[size_t(kSpectrumPoints / 2 + 100)], 20 * std::log10(amplitude), 0.1) << amplitude;
    }
}

TEST(Spectrum, ResetForgetsEarlierFrames)
{
    SpectrumAccumulator s;
    const std::vector<IqPair> before = tones({{50000, 0.5}}, kSpectrumPoints * 3);
    const std::vector<IqPair> after = tones({{-20000, 0.5}}, kSpectrumPoints * 2);
    s.feed(before.data(), int(before.size()) - 7); // leaves a part frame behind
    s.reset();
    EXPECT_TRUE(s.averageDbfs().empty());
    s.feed(after.data(), int(after.size()));
    EXPECT_EQ(s.frames(), 2u);
    const std::vector<int> peaks = strongestPeaks(s.averageDbfs(), 2);
    EXPECT_NEAR(binOffsetHz(peaks[0], kSpectrumPoints, kRate), -20000, kRate / kSpectrumPoints);
    EXPECT_LT(s.averageDbfs()[size_t(peaks[1])], -90); // nothing left of the earlier tone
}

TEST(Spectrum, SavedDataRoundTripsAndRejectsDamage)
{
    SpectrumData d;
    d.loHz = 7200000;
    d.sampleRateHz = kRate;
    d.frames = 42;
    d.span = QStringLiteral("after the retune at 5 s");
    d.dbfs = {-120.5, -3.25, 0};
    const QByteArray bytes = d.toBytes();
    SpectrumData e;
    ASSERT_TRUE(e.fromBytes(bytes));
    EXPECT_EQ(e.loHz, d.loHz);
    EXPECT_EQ(e.frames, d.frames);
    EXPECT_EQ(e.span, d.span);
    EXPECT_EQ(e.dbfs, d.dbfs);
    for (int cut : {0, 10, 43, bytes.size() - 1})
        EXPECT_FALSE(e.fromBytes(bytes.left(cut))) << cut;
    QByteArray wrongCount = bytes;
    wrongCount[40] = char(200);
    EXPECT_FALSE(e.fromBytes(wrongCount));
}

TEST(SpectrumPlot, TickStepsAreRound)
{
    EXPECT_DOUBLE_EQ(niceStep(312500, 10), 50000);
    EXPECT_DOUBLE_EQ(niceStep(78125, 10), 10000);
    EXPECT_DOUBLE_EQ(niceStep(100, 8), 20);
    EXPECT_DOUBLE_EQ(niceStep(60, 8), 10);
}
