// The module as a client sees it, through SoapySDR's own API, against the simulated receivers of
// scripts/netns-run (skipped anywhere else: finding a receiver broadcasts). This process has no Qt
// application object, and every call comes from a thread of its own, as in GNU Radio.
#include "tools/host/patternchecker.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Modules.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

size_t threadCount()
{
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return size_t(std::distance(begin(tasks), end(tasks)));
}

// QThread::wait() returns once the thread's work is done, a moment before the system thread has
// gone; give the count a bounded while to settle.
size_t settledThreadCount(size_t expected)
{
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    size_t n = threadCount();
    while (n != expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        n = threadCount();
    }
    return n;
}

TEST(SoapyModule, StreamsIntactWhileOtherThreadsControlAndCloseItAndLeavesNoThreadBehind)
{
    if (!std::getenv("TARNIX_NETNS_HOST"))
        GTEST_SKIP() << "needs the namespaces of scripts/netns-run";
    std::thread([] {}).join(); // ThreadSanitizer starts a thread of its own with the first one
    const size_t before = threadCount();

    // Made on a thread that has ended before the device is used.
    SoapySDR::Device *device = nullptr;
    std::thread([&device] {
        device = SoapySDR::Device::make("driver=tarnixddc,serial=RVD010a1f00124");
    }).join();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->getHardwareInfo()["version"], TARNIX_VERSION);
    device->setSampleRate(SOAPY_SDR_RX, 0, 312500);
    SoapySDR::Stream *stream = device->setupStream(SOAPY_SDR_RX, SOAPY_SDR_CS32);
    ASSERT_EQ(device->activateStream(stream), 0);

    // Retuning, the attenuator and sensor reads on one thread while another reads the samples.
    std::atomic<bool> reading{true};
    std::thread controller([&] {
        for (int k = 0; reading; ++k) {
            device->setFrequency(SOAPY_SDR_RX, 0, 1e6 + 1e3 * k);
            device->setGain(SOAPY_SDR_RX, 0, "ATT", k % 2 ? -20 : 0);
            EXPECT_EQ(device->readSensor("pll1_locked"), "true");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    PatternChecker checker;
    int losses = 0, timeouts = 0;
    // The reader waits as long as it likes; as SDR++ does, the stream is closed before the reader
    // is joined, and the close ends its wait.
    std::thread reader([&] {
        std::vector<IqPair> buffer(4096);
        void *buffs[] = {buffer.data()};
        for (;;) {
            int flags = 0;
            long long timeNs = 0;
            const int got = device->readStream(stream, buffs, buffer.size(), flags, timeNs, 1L << 30);
            if (got > 0)
                checker.feed(buffer.data(), got);
            else if (got == SOAPY_SDR_OVERFLOW)
                ++losses;
            else if (got == SOAPY_SDR_STREAM_ERROR)
                break;
            else if (got != 0)
                ++timeouts;
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    reading = false;
    controller.join();
    std::thread([&] {
        device->deactivateStream(stream);
        device->closeStream(stream);
    }).join();
    reader.join();
    SoapySDR::Device::unmake(device);

    const PatternReport report = checker.report();
    EXPECT_TRUE(report.clean()) << report.gapDatagrams << " gaps, " << report.wrongValues << " wrong values";
    EXPECT_GT(report.pairs, 0.8 * 3 * 312500);
    EXPECT_EQ(losses, 0);
    EXPECT_EQ(timeouts, 0);
    EXPECT_EQ(settledThreadCount(before), before);
    SoapySDR::unloadModules();
    EXPECT_EQ(settledThreadCount(before), before);
}

} // namespace
