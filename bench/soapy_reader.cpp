// The SoapySDR module as a light client uses it, for scripts/bench: opens a receiver through
// SoapySDR, reads CS32 and checks the simulator's pattern, and measures its own CPU after a warm-up.
//
//   soapy-reader --args ARGS [--rate S/s] [--seconds S] [--warmup S]
// Prints one JSON object: pairs, achieved rate, overflows, timeouts, gaps, wrong values, whether the
// stream was clean, and the process's CPU (user+sys, % of one core) over the measured seconds.

#include "tools/host/patternchecker.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Formats.hpp>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

} // namespace

int main(int argc, char **argv)
{
    std::string args = "driver=tarnixddc";
    double rate = 312500, seconds = 10, warmup = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--args"))
            args = argv[i + 1];
        else if (!std::strcmp(argv[i], "--rate"))
            rate = std::stod(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::stod(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--warmup"))
            warmup = std::stod(argv[i + 1]);
    }
    try {
        SoapySDR::Device *device = SoapySDR::Device::make(args);
        device->setSampleRate(SOAPY_SDR_RX, 0, rate);
        SoapySDR::Stream *stream = device->setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS32);
        device->activateStream(stream);

        PatternChecker checker;
        std::vector<IqPair> buffer(device->getStreamMTU(stream));
        void *buffs[] = {buffer.data()};
        quint64 overflows = 0, timeouts = 0, measuredPairs = 0;
        const auto start = Clock::now();
        const auto measureFrom = start + std::chrono::duration<double>(warmup);
        const auto end = measureFrom + std::chrono::duration<double>(seconds);
        bool measuring = false;
        double cpuFrom = 0;
        for (auto now = start; now < end; now = Clock::now()) {
            if (!measuring && now >= measureFrom) {
                measuring = true;
                cpuFrom = cpuSeconds();
            }
            int flags = 0;
            long long timeNs = 0;
            const int got = device->readStream(stream, buffs, buffer.size(), flags, timeNs, 100000);
            if (got > 0) {
                checker.feed(buffer.data(), got);
                if (measuring)
                    measuredPairs += quint64(got);
            } else if (got == SOAPY_SDR_OVERFLOW) {
                ++overflows;
            } else {
                ++timeouts;
            }
        }
        const double cpu = 100.0 * (cpuSeconds() - cpuFrom) / seconds;
        device->deactivateStream(stream);
        device->closeStream(stream);
        SoapySDR::Device::unmake(device);

        const PatternReport r = checker.report();
        const bool clean = r.clean() && overflows == 0 && r.pairs > 0;
        std::printf(
            "{\"pairs\": %llu, \"achieved_rate_hz\": %.0f, \"overflows\": %llu, \"timeouts\": %llu, "
            "\"gap_datagrams\": %llu, \"wrong_values\": %llu, \"clean\": %s, \"cpu_percent\": %.2f}\n",
            (unsigned long long)r.pairs, double(measuredPairs) / seconds, (unsigned long long)overflows,
            (unsigned long long)timeouts, (unsigned long long)r.gapDatagrams,
            (unsigned long long)r.wrongValues, clean ? "true" : "false", cpu);
        return clean ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "soapy-reader: %s\n", e.what());
        return 2;
    }
}
