// The realistic signal: tones land at their baseband offset, follow the tuning and the attenuator,
// and sit over noise at the configured level.

#include "tools/sim/signalsource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

using namespace sim;

namespace {

constexpr int kBlocks = 100;
constexpr int kPairs = 200;
constexpr double kPi = 3.141592653589793;

qint32 get24(const uchar *p)
{
    return qint32(quint32(p[0]) << 8 | quint32(p[1]) << 16 | quint32(p[2]) << 24) >> 8;
}

std::vector<std::complex<double>> capture(SignalSource &s)
{
    std::vector<uchar> buf(kPairs * 6);
    std::vector<std::complex<double>> out;
    for (int b = 0; b < kBlocks; ++b) {
        s.fill(buf.data(), kPairs, quint64(b) * kPairs);
        for (int k = 0; k < kPairs; ++k)
            out.emplace_back(get24(&buf[size_t(6 * k)]), get24(&buf[size_t(6 * k + 3)]));
    }
    return out;
}

// Amplitude of the component at offsetHz, by correlation.
double amplitudeAt(const std::vector<std::complex<double>> &x, double offsetHz, double rateHz)
{
    std::complex<double> acc;
    for (size_t n = 0; n < x.size(); ++n)
        acc += x[n] * std::polar(1.0, -2 * kPi * offsetHz * double(n) / rateHz);
    return std::abs(acc) / double(x.size());
}

double dbfs(double amplitude)
{
    return 20 * std::log10(amplitude / kFullScale24);
}

} // namespace

TEST(SignalSource, TonesFollowTuningAndAttenuator)
{
    const double rate = kSampleRatesHz[1]; // +-39062.5 Hz around the tuned frequency
    SignalSource s(SignalKind::Tones, {{7210000, -20}, {7240000, -30}}, -95, 7);
    s.setSampleRate(rate);
    s.setTunedFrequency(7200000);

    struct Case
    {
        double tunedHz;
        bool attenuator;
        double offsetA, expectA; // tone at 7.21 MHz: offset and level, NAN when out of band
        double offsetB, expectB; // tone at 7.24 MHz
    };
    const Case cases[] = {
        {7200000, false, 10000, -20, 40000, NAN}, // 7.24 MHz is just outside the band
        {7230000, false, -20000, -20, 10000, -30},
        {7230000, true, -20000, -40, 10000, -50},
        {7300000, false, -90000, NAN, -60000, NAN},
    };
    for (const Case &c : cases) {
        s.setTunedFrequency(c.tunedHz);
        s.setAttenuator(c.attenuator);
        const auto x = capture(s);
        const double a = dbfs(amplitudeAt(x, c.offsetA, rate)), b = dbfs(amplitudeAt(x, c.offsetB, rate));
        if (std::isnan(c.expectA))
            EXPECT_LT(a, -90) << c.tunedHz;
        else
            EXPECT_NEAR(a, c.expectA, 0.2) << c.tunedHz;
        if (std::isnan(c.expectB))
            EXPECT_LT(b, -90) << c.tunedHz;
        else
            EXPECT_NEAR(b, c.expectB, 0.2) << c.tunedHz;
    }
}

TEST(SignalSource, NoiseFloorAndSaturation)
{
    SignalSource quiet(SignalKind::Tones, {}, -80, 3);
    double power = 0;
    const auto x = capture(quiet);
    for (const auto &v : x)
        power += std::norm(v);
    EXPECT_NEAR(10 * std::log10(power / double(x.size()) / (kFullScale24 * kFullScale24)), -80, 0.5);

    // Tones adding up beyond full scale clip at the 24-bit limits instead of wrapping round.
    SignalSource loud(SignalKind::Tones, {{7200000, 0}, {7200000, 0}}, -120, 3);
    for (const auto &v : capture(loud)) {
        ASSERT_LE(std::abs(v.real()), kFullScale24 + 1);
        ASSERT_LE(std::abs(v.imag()), kFullScale24 + 1);
    }
    EXPECT_EQ(capture(loud)[0].real(), kFullScale24);
}
