// Loads the plug-in like a host and runs a script of export calls given on the command line, one
// result line per call, so tests can drive it in a fresh process (and in a network namespace).
//
//   extio_probe LIBRARY CALL...
//   CALL: init | open | start:HZ | stop | close | lo | setlo:HZ | sr | status | show | hide |
//         callback | nullcallback | wait:MS | blocks | unload
// `callback` registers a counting callback that also checks the simulator's verifiable signal;
// `blocks` prints what it has seen so far.

#include "protocol/hostinterface.h"
#include "tools/sim/pattern.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

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

template <typename F> F resolve(void *lib, const char *name)
{
    void *sym = dlsym(lib, name);
    if (!sym) {
        std::printf("missing export %s\n", name);
        std::exit(3);
    }
    return reinterpret_cast<F>(sym);
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
    auto initHW = resolve<InitHWFn>(lib, "InitHW");
    auto openHW = resolve<OpenHWFn>(lib, "OpenHW");
    auto startHW = resolve<StartHWFn>(lib, "StartHW");
    auto stopHW = resolve<StopHWFn>(lib, "StopHW");
    auto closeHW = resolve<CloseHWFn>(lib, "CloseHW");
    auto setHWLO = resolve<SetHWLOFn>(lib, "SetHWLO");
    auto getHWLO = resolve<GetHWLOFn>(lib, "GetHWLO");
    auto getHWSR = resolve<GetHWSRFn>(lib, "GetHWSR");
    auto getStatus = resolve<GetStatusFn>(lib, "GetStatus");
    auto setCallback = resolve<SetCallbackFn>(lib, "SetCallback");
    auto showGUI = resolve<ShowGUIFn>(lib, "ShowGUI");
    auto hideGUI = resolve<HideGUIFn>(lib, "HideGUI");

    for (int a = 2; a < argc; ++a) {
        const std::string call = argv[a];
        const auto colon = call.find(':');
        const std::string verb = call.substr(0, colon);
        const long arg = colon == std::string::npos ? 0 : std::atol(call.c_str() + colon + 1);
        const auto started = std::chrono::steady_clock::now();
        std::string result = "-";
        if (verb == "init") {
            char name[64], model[16];
            int type = -1;
            const bool ok = initHW(name, model, &type);
            result = std::to_string(ok) + " " + name + "|" + model + "|" + std::to_string(type);
        } else if (verb == "initnull") {
            result = std::to_string(initHW(nullptr, nullptr, nullptr));
        } else if (verb == "open") {
            result = std::to_string(openHW());
        } else if (verb == "start") {
            result = std::to_string(startHW(arg));
        } else if (verb == "stop") {
            stopHW();
        } else if (verb == "close") {
            closeHW();
        } else if (verb == "lo") {
            result = std::to_string(getHWLO());
        } else if (verb == "setlo") {
            result = std::to_string(setHWLO(arg));
        } else if (verb == "sr") {
            result = std::to_string(getHWSR());
        } else if (verb == "status") {
            result = std::to_string(getStatus());
        } else if (verb == "show") {
            showGUI();
        } else if (verb == "hide") {
            hideGUI();
        } else if (verb == "callback") {
            setCallback(countingCallback);
        } else if (verb == "newstream") {
            // The next stream starts its numbering afresh: do not count that as a jump.
            g_haveNext = false;
        } else if (verb == "nullcallback") {
            setCallback(nullptr);
        } else if (verb == "wait") {
            std::this_thread::sleep_for(std::chrono::milliseconds(arg));
        } else if (verb == "blocks") {
            result = std::to_string(g_blocks.load()) + " bad=" + std::to_string(g_badBlocks.load()) +
                     " hostthread=" + std::to_string(g_onHostThread.load()) +
                     " jumps=" + std::to_string(g_jumps.load()) +
                     " undecodable=" + std::to_string(g_undecodable.load());
        } else if (verb == "unload") {
            result = std::to_string(dlclose(lib));
            lib = nullptr;
        } else {
            std::fprintf(stderr, "unknown call %s\n", call.c_str());
            return 2;
        }
        const long ms = long(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                .count());
        std::printf("%s %s %ldms\n", call.c_str(), result.c_str(), ms);
        std::fflush(stdout);
        if (!lib)
            break;
    }
    return 0;
}
