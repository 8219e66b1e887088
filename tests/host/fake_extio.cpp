// A stand-in ExtIO plug-in for testing the host: it delivers the simulator's numbered signal (or a
// tone) from its own thread, with faults chosen through the FAKE_EXTIO environment variable:
//   blocks=N  drop=K,K  dup=K  swap=K  corrupt=N  tone=HZ  rate=HZ  start=-1  silent=1
//   name=TEXT  model=TEXT  type=N  init=0  lo=HZ (what GetHWLO answers instead of the LO set)
// (K are 200-pair datagram numbers, N sample indices). FAKE_EXTIO_LOG=FILE records the calls.

#include "protocol/hostinterface.h"
#include "tools/sim/pattern.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#define FAKE_EXPORT extern "C" EXTIO_EXPORT

namespace {

constexpr int kBlock = 2048;
constexpr int kDatagram = 200;

struct Config
{
    int blocks = 40;
    std::set<long> drop, dup, swap;
    std::set<long long> corrupt;
    double toneHz = 0;
    bool tone = false;
    long rate = 312500;
    int startResult = kBlock;
    bool silent = false;
    std::string name = "Fake receiver";
    std::string model = "Fake";
    int type = 6;
    bool initResult = true;
    long fixedLo = -1;
};

std::atomic<HostCallback> g_callback{nullptr};
std::atomic<bool> g_running{false};
std::thread g_thread;
long g_lo = 7200000;
Config g_config;

void log(const std::string &line)
{
    if (const char *path = std::getenv("FAKE_EXTIO_LOG")) {
        if (FILE *f = std::fopen(path, "a")) {
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    }
}

template <typename T> void parseList(const std::string &value, std::set<T> *out)
{
    size_t at = 0;
    while (at <= value.size()) {
        const size_t comma = std::min(value.find(',', at), value.size());
        if (comma > at)
            out->insert(T(std::atoll(value.substr(at, comma - at).c_str())));
        at = comma + 1;
    }
}

Config readConfig()
{
    Config c;
    const char *env = std::getenv("FAKE_EXTIO");
    std::string script = env ? env : "";
    size_t at = 0;
    while (at < script.size()) {
        const size_t end = std::min(script.find(';', at), script.size());
        const std::string item = script.substr(at, end - at);
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (key == "blocks")
            c.blocks = std::atoi(value.c_str());
        else if (key == "drop")
            parseList(value, &c.drop);
        else if (key == "dup")
            parseList(value, &c.dup);
        else if (key == "swap")
            parseList(value, &c.swap);
        else if (key == "corrupt")
            parseList(value, &c.corrupt);
        else if (key == "tone") {
            c.tone = true;
            c.toneHz = std::atof(value.c_str());
        } else if (key == "rate")
            c.rate = std::atol(value.c_str());
        else if (key == "start")
            c.startResult = std::atoi(value.c_str());
        else if (key == "silent")
            c.silent = value == "1";
        else if (key == "name")
            c.name = value;
        else if (key == "model")
            c.model = value;
        else if (key == "type")
            c.type = std::atoi(value.c_str());
        else if (key == "init")
            c.initResult = value != "0";
        else if (key == "lo")
            c.fixedLo = std::atol(value.c_str());
        at = end + 1;
    }
    return c;
}

// The order in which datagrams leave the "receiver", with the configured faults applied.
std::vector<long> datagramOrder(const Config &c, long needed)
{
    std::vector<long> order;
    for (long k = 0; long(order.size()) < needed; ++k) {
        if (c.swap.count(k)) {
            order.push_back(k + 1);
            order.push_back(k);
            ++k;
            continue;
        }
        if (c.drop.count(k))
            continue;
        order.push_back(k);
        if (c.dup.count(k))
            order.push_back(k);
    }
    return order;
}

void deliver(Config c)
{
    const long pairsNeeded = long(c.blocks) * kBlock;
    std::vector<int32_t> samples;
    samples.reserve(size_t(pairsNeeded + kDatagram) * 2);
    const double pi = std::acos(-1.0);
    for (long k : datagramOrder(c, pairsNeeded / kDatagram + 1)) {
        for (long long n = k * kDatagram; n < (k + 1) * kDatagram; ++n) {
            if (c.tone) {
                const double phase = 2 * pi * c.toneHz * double(n) / double(c.rate);
                samples.push_back(int32_t(std::lround(std::cos(phase) * 1073741824.0)));
                samples.push_back(int32_t(std::lround(std::sin(phase) * 1073741824.0)));
                continue;
            }
            const uint32_t corrupt = c.corrupt.count(n) ? 0x5A : 0;
            samples.push_back(int32_t((pattern::i24(uint64_t(n)) << 8) | corrupt));
            samples.push_back(int32_t(pattern::q24(uint64_t(n)) << 8));
        }
    }
    std::vector<int32_t> block(kBlock * 2);
    for (int b = 0; b < c.blocks && g_running.load(); ++b) {
        std::memcpy(block.data(), samples.data() + size_t(b) * kBlock * 2, block.size() * sizeof(int32_t));
        if (HostCallback cb = g_callback.load())
            cb(kBlock, 0, 0.0f, block.data());
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

} // namespace

#ifndef FAKE_EXTIO_PARTIAL
FAKE_EXPORT bool InitHW(char *name, char *model, int *type)
{
    log("InitHW");
    // InitHW comes before OpenHW, so the identity is read here.
    const Config c = readConfig();
    std::snprintf(name, 64, "%s", c.name.c_str());
    std::snprintf(model, 64, "%s", c.model.c_str());
    *type = c.type;
    return c.initResult;
}
#endif

FAKE_EXPORT bool OpenHW()
{
    log("OpenHW");
    g_config = readConfig();
    return true;
}

FAKE_EXPORT int StartHW(long freq)
{
    log("StartHW " + std::to_string(freq));
    g_lo = freq;
    if (g_config.startResult < 0)
        return g_config.startResult;
    if (!g_config.silent) {
        g_running = true;
        g_thread = std::thread(deliver, g_config);
    }
    return kBlock;
}

FAKE_EXPORT void StopHW()
{
    log("StopHW");
    g_running = false;
    if (g_thread.joinable())
        g_thread.join();
}

FAKE_EXPORT void CloseHW()
{
    log("CloseHW");
}

FAKE_EXPORT int SetHWLO(long freq)
{
    log(std::string(g_running ? "SetHWLO streaming " : "SetHWLO ") + std::to_string(freq));
    g_lo = freq;
    return 0;
}

FAKE_EXPORT long GetHWLO()
{
    log("GetHWLO");
    return g_config.fixedLo >= 0 ? g_config.fixedLo : g_lo;
}

#ifndef FAKE_EXTIO_PARTIAL
FAKE_EXPORT long GetHWSR()
{
    log("GetHWSR");
    return g_config.rate;
}
#endif

FAKE_EXPORT int GetStatus()
{
    return 0;
}

FAKE_EXPORT void SetCallback(HostCallback callback)
{
    log("SetCallback");
    g_callback = callback;
}

FAKE_EXPORT void ShowGUI()
{
    log("ShowGUI");
}

#ifndef FAKE_EXTIO_PARTIAL
FAKE_EXPORT void HideGUI()
{
    log("HideGUI");
}
#endif
