// The resampler that makes 250000 samples/s from the receiver's 312500, and the stream it serves.
#include "soapy/resampler.h"
#include "soapy/streamsink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double kInRate = 312500.0;
constexpr double kOutRate = 250000.0;
constexpr double kFullScale = 2147483648.0;
constexpr double kPi = 3.14159265358979323846;
constexpr size_t kSettled = 200; // outputs after the start, once the filter has only real inputs

// A tone as the receiver sends it: 24-bit samples times 256.
std::vector<IqPair> tone(double hz, double amplitude, size_t n)
{
    std::vector<IqPair> pairs(n);
    for (size_t k = 0; k < n; ++k) {
        const double phase = 2 * kPi * hz * double(k) / kInRate;
        pairs[k] = {qint32(std::lround(amplitude * std::cos(phase) * 8388607.0)) * 256,
                    qint32(std::lround(amplitude * std::sin(phase) * 8388607.0)) * 256};
    }
    return pairs;
}

std::vector<IqPair> resample(const std::vector<IqPair> &in)
{
    Resampler resampler;
    std::vector<IqPair> out(Resampler::outputsFor(in.size()));
    out.resize(resampler.process(in.data(), in.size(), out.data()));
    return out;
}

bool same(const IqPair &a, const IqPair &b)
{
    return a.i == b.i && a.q == b.q;
}

std::complex<double> at(const IqPair &p)
{
    return {p.i / kFullScale, p.q / kFullScale};
}

TEST(Resampler, PassbandTonesKeepFrequencyAndAmplitudeStopbandTonesAreRejected)
{
    struct Case
    {
        double hz;
        bool passes;
    };
    for (const Case c : {Case{600, true}, Case{60e3, true}, Case{-99e3, true}, Case{125e3, false},
                         Case{140e3, false}, Case{-150e3, false}}) {
        SCOPED_TRACE(c.hz);
        const std::vector<IqPair> out = resample(tone(c.hz, 0.5, 62500));
        // The output's component at the tone's frequency on the 250000 samples/s grid, and the rest.
        std::complex<double> sum;
        for (size_t j = kSettled; j < out.size(); ++j)
            sum += at(out[j]) * std::polar(1.0, -2 * kPi * c.hz * double(j) / kOutRate);
        const std::complex<double> component = sum / double(out.size() - kSettled);
        double rest = 0, all = 0;
        for (size_t j = kSettled; j < out.size(); ++j) {
            all += std::norm(at(out[j]));
            rest +=
                std::norm(at(out[j]) - component * std::polar(1.0, 2 * kPi * c.hz * double(j) / kOutRate));
        }
        const double n = double(out.size() - kSettled);
        if (c.passes) {
            EXPECT_NEAR(20 * std::log10(std::abs(component) / 0.5), 0.0, 0.01);
            EXPECT_LT(std::sqrt(rest / n), 0.5e-3); // all of it is that tone, 60 dB down from it
        } else {
            EXPECT_LT(std::sqrt(all / n), 0.5e-3); // 60 dB down
        }
    }
}

TEST(Resampler, GivesFourOfFiveAcrossCallsOfAnySizeAndForgetsAtAReset)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<qint32> sample(-(1 << 23), (1 << 23) - 1);
    std::vector<IqPair> in(500000);
    for (IqPair &p : in)
        p = {sample(random) * 256, sample(random) * 256};
    const std::vector<IqPair> whole = resample(in);
    ASSERT_EQ(whole.size(), 400000u);

    Resampler resampler;
    std::vector<IqPair> pieces(whole.size() + 1);
    std::uniform_int_distribution<size_t> size(0, 3000);
    size_t fed = 0, made = 0;
    while (fed < in.size()) {
        const size_t n = std::min(in.size() - fed, fed < 20 ? 1 : size(random));
        made += resampler.process(in.data() + fed, n, pieces.data() + made);
        fed += n;
        ASSERT_EQ(made, Resampler::outputsFor(fed));
    }
    pieces.resize(made);
    EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), whole.begin(), whole.end(), same));

    // After a reset the same inputs give what a new filter gives: nothing of the old ones is left.
    resampler.reset();
    std::vector<IqPair> again(1000);
    again.resize(resampler.process(in.data(), 1250, again.data()));
    EXPECT_TRUE(std::equal(again.begin(), again.end(), whole.begin(), same));
}

TEST(Resampler, FullScaleClipsRatherThanWrapping)
{
    // A step to full scale overshoots by about 9 %, which must stop at the largest value.
    for (const qint32 level : {qint32(0x7fffff00), std::numeric_limits<qint32>::min()}) {
        const std::vector<IqPair> out = resample(std::vector<IqPair>(2000, IqPair{level, level}));
        const auto [low, high] = std::minmax_element(
            out.begin(), out.end(), [](const IqPair &a, const IqPair &b) { return a.i < b.i; });
        EXPECT_EQ(level > 0 ? high->i : low->i, level > 0 ? INT32_MAX : INT32_MIN);
        EXPECT_LT(std::abs(double(level > 0 ? low->i : high->i)), 0.2 * kFullScale); // no wrap
        EXPECT_NEAR(double(out.back().i), double(level), 256.0);
    }
}

// What a client reads of a 250000 samples/s stream: its pairs' times on that rate's grid, and a
// gap of n receiver pairs as 4n/5 of them.
TEST(ResampledStream, TimesItsPairsAtItsRateAndCountsAGapAsFourFifthsOfItsPairs)
{
    StreamSink sink;
    sink.setOpen(true);
    sink.setSampleRate(kOutRate, true);
    sink.startOutput(0, nullptr);
    const std::vector<IqPair> in = tone(10e3, 0.5, 3004);
    quint64 next = 0; // the timeline index the next pair must have
    int losses = 0;
    const auto readAll = [&] {
        std::vector<IqPair> out(1000);
        const auto copy = [](const IqPair *from, size_t n, void *to, size_t at) {
            std::copy(from, from + n, static_cast<IqPair *>(to) + at);
        };
        for (;;) {
            const StreamSink::Result r =
                sink.read(out.data(), out.size(), copy, std::chrono::microseconds(0));
            if (r.what == StreamSink::Read::Timeout)
                return;
            if (r.what == StreamSink::Read::Loss) {
                ++losses;
                next = (3005 + 4995) * 4 / 5;
            }
            EXPECT_EQ(r.timeNs, qint64(next) * 4000);
            next += r.pairs;
        }
    };
    sink.pushSamples(in.data(), nullptr, 3004, 0);
    readAll();
    EXPECT_EQ(next, 2404u);
    // One pair that completes no output, then the gap: it goes with the gap.
    sink.pushSamples(in.data(), nullptr, 1, 0);
    sink.streamGap(4995);
    sink.pushSamples(in.data(), nullptr, 1000, 0);
    readAll();
    EXPECT_EQ(losses, 1);
    EXPECT_EQ(next, 6400u + 800u);
}

} // namespace
