// Loads the plug-in like a host and runs a script of export calls given on the command line, one
// result line per call, so tests can drive it in a fresh process (and in a network namespace).
//
//   extio_probe LIBRARY CALL...
//   CALL: init | open | start:HZ | stop | close | lo | setlo:HZ | sr | status | show | hide |
//         callback | busycallback:RATE | stopcallback | nullcallback | wait:MS | blocks | unload |
//         later:MS:CALL | join
// `callback` registers a counting callback that also checks the simulator's verifiable signal;
// `busycallback` one that also calls GetHWSR on every block (expecting RATE) and SetHWLO on every
// 16th, as hosts do; `stopcallback` one that calls StopHW on its first block. `blocks` prints what
// they have seen so far. `later` runs CALL on another thread after MS ms; `join` waits for those.

#include "protocol/hostinterface.h"
#include "tools/sim/pattern.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/offscreenleakhooks.h"

namespace {

std::atomic<long> g_blocks{0};
std::atomic<long> g_badBlocks{0};
std::atomic<bool> g_onHostThread{false};
std::thread::id g_hostThread;
// Pattern check state, touched only by the plug-in's delivery thread while it runs.
std::atomic<long> g_jumps{0}; // places where the next sample was not the one after the last
std::atomic<long> g_undecodable{0};
uint64_t g_next = 0;
bool g_haveNext = false;

void countingCallback(int count, int status, float offset, void *data)
{
    if (count != 2048 || status != 0 || offset != 0.0f || !data) {
        ++g_badBlocks;
        return;
    }
    if (std::this_thread::get_id() == g_hostThread)
        g_onHostThread = true;
    const int32_t *v = static_cast<const int32_t *>(data);
    for (int k = 0; k < count; ++k) {
        uint64_t n;
        if (!pattern::decode(v[2 * k], v[2 * k + 1], &n)) {
            ++g_undecodable;
            continue;
        }
        if (g_haveNext && n != g_next)
            ++g_jumps;
        g_next = n + 1;
        g_haveNext = true;
    }
    ++g_blocks;
}

struct Exports
{
    InitHWFn initHW;
    OpenHWFn openHW;
    StartHWFn startHW;
    StopHWFn stopHW;
    CloseHWFn closeHW;
    SetHWLOFn setHWLO;
    GetHWLOFn getHWLO;
    GetHWSRFn getHWSR;
    GetStatusFn getStatus;
    SetCallbackFn setCallback;
    ShowGUIFn showGUI;
    HideGUIFn hideGUI;
} g_x;

std::atomic<long> g_expectedRate{0};
std::atomic<long> g_rateWrong{0};
std::atomic<long> g_fromCallback{0}; // export calls made from inside the callback
std::atomic<bool> g_stopSent{false};

void busyCallback(int count, int status, float offset, void *data)
{
    countingCallback(count, status, offset, data);
    ++g_fromCallback;
    if (g_x.getHWSR() != g_expectedRate)
        ++g_rateWrong;
    const long blocks = g_blocks;
    if (blocks % 16 == 0) {
        ++g_fromCallback;
        g_x.setHWLO(blocks % 32 ? 7100000 : 7150000);
    }
}

void stoppingCallback(int count, int status, float offset, void *data)
{
    countingCallback(count, status, offset, data);
    if (!g_stopSent.exchange(true)) {
        ++g_fromCallback;
        g_x.stopHW();
    }
}

template <typename F> F resolve(void *lib, const char *name)
{
    void *sym = dlsym(lib, name);
    if (!sym) {
        std::printf("missing export %s\n", name);
        std::exit(3);
    }
    return reinterpret_cast<F>(sym);
}

std::mutex g_outputMutex;
std::vector<std::thread> g_later;

void printLine(const std::string &call, const std::string &result,
               std::chrono::steady_clock::time_point started)
{
    const long ms =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                 .count());
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::printf("%s %s %ldms\n", call.c_str(), result.c_str(), ms);
    std::fflush(stdout);
}

// Runs one call; false for an unknown one. `lib` is cleared by "unload".
bool perform(const std::string &call, void *&lib)
{
    const auto colon = call.find(':');
    const std::string verb = call.substr(0, colon);
    const long arg = colon == std::string::npos ? 0 : std::atol(call.c_str() + colon + 1);
    const auto started = std::chrono::steady_clock::now();
    std::string result = "-";
    if (verb == "init") {
        char name[64], model[16];
        int type = -1;
        const bool ok = g_x.initHW(name, model, &type);
        result = std::to_string(ok) + " " + name + "|" + model + "|" + std::to_string(type);
    } else if (verb == "initnull") {
        result = std::to_string(g_x.initHW(nullptr, nullptr, nullptr));
    } else if (verb == "open") {
        result = std::to_string(g_x.openHW());
    } else if (verb == "start") {
        result = std::to_string(g_x.startHW(arg));
    } else if (verb == "stop") {
        g_x.stopHW();
    } else if (verb == "close") {
        g_x.closeHW();
    } else if (verb == "lo") {
        result = std::to_string(g_x.getHWLO());
    } else if (verb == "setlo") {
        result = std::to_string(g_x.setHWLO(arg));
    } else if (verb == "sr") {
        result = std::to_string(g_x.getHWSR());
    } else if (verb == "status") {
        result = std::to_string(g_x.getStatus());
    } else if (verb == "show") {
        g_x.showGUI();
    } else if (verb == "hide") {
        g_x.hideGUI();
    } else if (verb == "callback") {
        g_x.setCallback(countingCallback);
    } else if (verb == "busycallback") {
        g_expectedRate = arg;
        g_x.setCallback(busyCallback);
    } else if (verb == "stopcallback") {
        g_stopSent = false;
        g_x.setCallback(stoppingCallback);
    } else if (verb == "newstream") {
        // The next stream starts its numbering afresh: do not count that as a jump.
        g_haveNext = false;
    } else if (verb == "nullcallback") {
        g_x.setCallback(nullptr);
    } else if (verb == "wait") {
        std::this_thread::sleep_for(std::chrono::milliseconds(arg));
    } else if (verb == "blocks") {
        result = std::to_string(g_blocks.load()) + " bad=" + std::to_string(g_badBlocks.load()) +
                 " hostthread=" + std::to_string(g_onHostThread.load()) +
                 " jumps=" + std::to_string(g_jumps.load()) +
                 " undecodable=" + std::to_string(g_undecodable.load()) +
                 " fromcallback=" + std::to_string(g_fromCallback.load()) +
                 " ratewrong=" + std::to_string(g_rateWrong.load());
    } else if (verb == "later") {
        const auto second = call.find(':', colon + 1);
        if (second == std::string::npos)
            return false;
        const std::string later = call.substr(second + 1);
        g_later.emplace_back([arg, later, lib]() mutable {
            std::this_thread::sleep_for(std::chrono::milliseconds(arg));
            perform(later, lib);
        });
    } else if (verb == "join") {
        for (std::thread &t : g_later)
            t.join();
        g_later.clear();
    } else if (verb == "unload") {
        result = std::to_string(dlclose(lib));
        lib = nullptr;
    } else {
        return false;
    }
    printLine(call, result, started);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: extio_probe LIBRARY CALL...\n");
        return 2;
    }
    g_hostThread = std::this_thread::get_id();
    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::printf("load failed: %s\n", dlerror());
        return 3;
    }
    g_x.initHW = resolve<InitHWFn>(lib, "InitHW");
    g_x.openHW = resolve<OpenHWFn>(lib, "OpenHW");
    g_x.startHW = resolve<StartHWFn>(lib, "StartHW");
    g_x.stopHW = resolve<StopHWFn>(lib, "StopHW");
    g_x.closeHW = resolve<CloseHWFn>(lib, "CloseHW");
    g_x.setHWLO = resolve<SetHWLOFn>(lib, "SetHWLO");
    g_x.getHWLO = resolve<GetHWLOFn>(lib, "GetHWLO");
    g_x.getHWSR = resolve<GetHWSRFn>(lib, "GetHWSR");
    g_x.getStatus = resolve<GetStatusFn>(lib, "GetStatus");
    g_x.setCallback = resolve<SetCallbackFn>(lib, "SetCallback");
    g_x.showGUI = resolve<ShowGUIFn>(lib, "ShowGUI");
    g_x.hideGUI = resolve<HideGUIFn>(lib, "HideGUI");

    for (int a = 2; a < argc && lib; ++a) {
        if (!perform(argv[a], lib)) {
            std::fprintf(stderr, "unknown call %s\n", argv[a]);
            return 2;
        }
    }
    for (std::thread &t : g_later)
        t.join();
    return 0;
}
