#include "extio/exithook.h"

#include <mutex>

#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace exithook {
namespace {

// Constant-initialised and trivially destructible: usable however static teardown is ordered.
std::mutex g_mutex;
void (*g_hook)() = nullptr;
bool g_disarmed = false;

#ifndef _WIN32
extern "C" int __cxa_atexit(void (*func)(void *), void *arg, void *dso);
extern "C" void __cxa_finalize(void *dso);
extern "C" int __cxa_thread_atexit_impl(void (*func)(void *), void *obj, void *dsoSymbol);

// The entry is registered under a handle of its own, so that finalising that handle removes exactly
// this entry (and runs it, which a move must not do: see t_moving).
char g_handle;
bool g_registered = false;
thread_local bool t_moving = false;

// When the main thread ends the process, its thread_local destructors run before every exit handler:
// the earliest moment there is. One such destructor runs the hook through a second handle. It names
// no code of ours (the C library's __cxa_finalize, given a handle it only compares), so it stays
// harmless once the library is unloaded, and it keeps only the main program loaded, never us.
void runHook(void *);
char g_earlyHandle;
bool g_earlyArmed = false;

bool onMainThread()
{
    return getpid() == pid_t(syscall(SYS_gettid));
}

void armEarlyLocked()
{
    if (g_earlyArmed || !onMainThread())
        return;
    if (__cxa_atexit(runHook, nullptr, &g_earlyHandle) != 0)
        return;
    // The C library counts the entry against the object that holds the address given last: for an
    // address in no object at all (this one on the stack), the main program.
    const char outsideEveryObject = 0;
    g_earlyArmed = __cxa_thread_atexit_impl(__cxa_finalize, &g_earlyHandle,
                                            const_cast<char *>(&outsideEveryObject)) == 0;
}

void runHook(void *)
{
    if (t_moving)
        return;
    void (*hook)() = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_hook;
    }
    if (hook)
        hook();
}

void moveToTopLocked()
{
    if (g_registered) {
        t_moving = true;
        __cxa_finalize(&g_handle);
        t_moving = false;
    }
    g_registered = __cxa_atexit(runHook, nullptr, &g_handle) == 0;
}
#else
void moveToTopLocked() {}
void armEarlyLocked() {}
#endif

} // namespace

void arm(void (*hook)())
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook = hook;
    g_disarmed = false;
    moveToTopLocked();
    armEarlyLocked();
}

void rearm()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_hook && !g_disarmed)
        moveToTopLocked();
}

void disarm()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_disarmed = true;
}

void runForUnload()
{
    // Waits for a move in progress, after which the entry stays where it is until it has run.
    disarm();
#ifndef _WIN32
    __cxa_finalize(&g_handle);
    // Ran just now: the early entry goes without running again.
    t_moving = true;
    __cxa_finalize(&g_earlyHandle);
    t_moving = false;
#endif
}

} // namespace exithook
