// Windows thread and priority layer, run under Wine by scripts/test-windows (no test framework is
// built for mingw, so checks print and count). Exits 0 when every check held.
#include "platform/priority.h"
#include "platform/thread.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr DWORD kDeadlineMs = 10000;
constexpr int kCycles = 200;

int g_failures = 0;

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok)
        ++g_failures;
}

std::atomic<DWORD> g_threadId{0};
std::atomic<bool> g_release{false};
std::atomic<int> g_ran{0};

void recordIdAndEnd(void *)
{
    g_threadId = GetCurrentThreadId();
    platform::raiseCurrentThreadPriority();
    platform::endThread();
}

void blockUntilReleased(void *)
{
    const DWORD start = GetTickCount();
    while (!g_release && GetTickCount() - start < kDeadlineMs)
        Sleep(1);
}

void count(void *arg)
{
    g_ran += *static_cast<int *>(arg);
}

bool waitFor(const std::atomic<DWORD> &value)
{
    const DWORD start = GetTickCount();
    while (value == 0 && GetTickCount() - start < kDeadlineMs)
        Sleep(1);
    return value != 0;
}

// The GUI thread may end on its own before anyone waits for it; the wait must still see it ended.
void waitAfterTheThreadHasEnded()
{
    g_threadId = 0;
    const platform::ThreadHandle h = platform::beginThread(recordIdAndEnd, nullptr);
    check(h != 0, "a thread starts");
    check(waitFor(g_threadId), "the thread ran");
    // A second, independent handle tells when the thread is really gone.
    HANDLE own = OpenThread(SYNCHRONIZE, FALSE, g_threadId);
    check(own && WaitForSingleObject(own, kDeadlineMs) == WAIT_OBJECT_0, "the thread ended");
    if (own)
        CloseHandle(own);
    check(platform::waitThread(h, 0), "a wait after the end reports it ended");
}

void waitTimesOutThenSucceeds()
{
    g_release = false;
    const platform::ThreadHandle h = platform::beginThread(blockUntilReleased, nullptr);
    const DWORD start = GetTickCount();
    check(!platform::waitThread(h, 50), "a wait on a running thread gives up");
    check(GetTickCount() - start >= 40, "...after its time");
    g_release = true;
    check(platform::waitThread(h, kDeadlineMs), "a later wait sees the end");
}

// Start, run, wait, many times over: every body runs once and each joined handle is closed.
void cyclesLeaveNoHandles()
{
    g_ran = 0;
    int one = 1;
    bool allJoined = true, allClosed = true;
    for (int i = 0; i < kCycles; ++i) {
        const platform::ThreadHandle h = platform::beginThread(count, &one);
        allJoined = platform::waitThread(h, kDeadlineMs) && allJoined;
        DWORD flags = 0;
        allClosed = !GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) && allClosed;
    }
    check(allJoined, "every cycle's wait succeeds");
    check(g_ran == kCycles, "every body ran once");
    check(allClosed, "a joined thread's handle is closed");
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    platform::raiseProcessPriority();
    waitAfterTheThreadHasEnded();
    waitTimesOutThenSucceeds();
    cyclesLeaveNoHandles();
    check(platform::waitThread(0, 0), "no thread counts as ended");
    std::printf("platform test: %d failure(s)\n", g_failures);
    return g_failures ? 1 : 0;
}
