// The resampler that makes 250000 samples/s from the receiver's 312500, and the stream it serves.
#include "soapy/resampler.h"
#include "soapy/streamsink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 2147483648.0;

// A tone as the receiver sends it: 24-bit samples times 256.
std::vector<IqPair> tone(double hz, double amplitude, size_t n)
{
    std::vector<IqPair> pairs(n);
    for (size_t k = 0; k < n; ++k) {
        const std::complex<double> v = std::polar(amplitude * 8388607.0, 2 * kPi * hz * double(k) / 312500.0);
        pairs[k] = {qint32(std::lround(v.real())) * 256, qint32(std::lround(v.imag())) * 256};
    }
    return pairs;
}

std::vector<IqPair> resample(Resampler &resampler, const IqPair *in, size_t n)
{
    std::vector<IqPair> out(Resampler::outputsFor(n));
    out.resize(resampler.process(in, n, out.data()));
    return out;
}

bool same(const IqPair &a, const IqPair &b)
{
    return a.i == b.i && a.q == b.q;
}

TEST(Resampler, KeepsThePassbandRejectsTheStopbandGivesFourOfFiveAndClips)
{
    // Tones of half full scale: inside +-100 kHz each comes out alone at its frequency on the
    // 250000 grid and at its level; from 125 kHz on nothing comes out but 60 dB down.
    for (const double hz : {600.0, 60e3, -99e3, 125e3, 140e3, -150e3}) {
        SCOPED_TRACE(hz);
        Resampler resampler;
        const std::vector<IqPair> in = tone(hz, 0.5, 62500);
        const std::vector<IqPair> out = resample(resampler, in.data(), in.size());
        constexpr size_t kSettled = 200; // once the filter holds only real inputs
        std::complex<double> component;
        for (size_t j = kSettled; j < out.size(); ++j)
            component +=
                std::complex<double>(out[j].i, out[j].q) * std::polar(1.0, -2 * kPi * hz * double(j) / 250e3);
        component /= double(out.size() - kSettled) * kFullScale;
        double rest = 0;
        for (size_t j = kSettled; j < out.size(); ++j) {
            const std::complex<double> y = std::complex<double>(out[j].i, out[j].q) / kFullScale;
            rest += std::norm(
                std::abs(hz) < 100e3 ? y - component * std::polar(1.0, 2 * kPi * hz * double(j) / 250e3) : y);
        }
        if (std::abs(hz) < 100e3) {
            EXPECT_NEAR(20 * std::log10(std::abs(component) / 0.5), 0.0, 0.01);
        }
        EXPECT_LT(std::sqrt(rest / double(out.size() - kSettled)), 0.5e-3);
    }

    // Over a long run fed in pieces of any size, exactly 4 of 5, the same as in one piece; after a
    // reset nothing of the earlier inputs is left.
    std::mt19937 random(7);
    std::uniform_int_distribution<qint32> sample(-(1 << 23), (1 << 23) - 1);
    std::vector<IqPair> in(500000);
    for (IqPair &p : in)
        p = {sample(random) * 256, sample(random) * 256};
    Resampler resampler;
    const std::vector<IqPair> whole = resample(resampler, in.data(), in.size());
    ASSERT_EQ(whole.size(), 400000u);
    resampler.reset();
    std::vector<IqPair> pieces(whole.size());
    std::uniform_int_distribution<size_t> size(0, 3000);
    size_t fed = 0, made = 0;
    while (fed < in.size()) {
        const size_t n = std::min(in.size() - fed, fed < 20 ? 1 : size(random));
        made += resampler.process(in.data() + fed, n, pieces.data() + made);
        fed += n;
        ASSERT_EQ(made, Resampler::outputsFor(fed));
    }
    EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), whole.begin(), same));

    // A step to full scale overshoots by about 9 %, which stops at the largest value.
    for (const qint32 level : {qint32(0x7fffff00), qint32(INT32_MIN)}) {
        resampler.reset();
        const std::vector<IqPair> steady(2000, IqPair{level, level});
        const std::vector<IqPair> out = resample(resampler, steady.data(), steady.size());
        const auto [low, high] = std::minmax_element(
            out.begin(), out.end(), [](const IqPair &a, const IqPair &b) { return a.i < b.i; });
        EXPECT_EQ(level > 0 ? high->i : low->i, level > 0 ? INT32_MAX : INT32_MIN);
        EXPECT_LT(std::abs(double(level > 0 ? low->i : high->i)), 0.2 * kFullScale); // no wrap
    }
}

// What a client reads of a 250000 samples/s stream: its pairs' times on that rate's grid, and a
// gap of n receiver pairs as 4n/5 of them.
TEST(ResampledStream, TimesItsPairsAtItsRateAndCountsAGapAsFourFifthsOfItsPairs)
{
    StreamSink sink;
    sink.setOpen(true);
    sink.setSampleRate(250e3, true);
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
