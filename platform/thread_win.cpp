#include "platform/thread.h"

#include <process.h>
#include <windows.h>

#include <new>

namespace platform {

// _beginthreadex rather than _beginthread: the handle _beginthread returns is closed by the runtime
// as the thread ends, so a wait that starts after a quick exit would use a dead (or already reused)
// handle. Here the handle stays valid until a wait has seen the thread end and closes it.
namespace {
struct Start
{
    ThreadBody body;
    void *arg;
};

unsigned __stdcall trampoline(void *p)
{
    const Start start = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    start.body(start.arg);
    return 0;
}
} // namespace

ThreadHandle beginThread(ThreadBody body, void *arg)
{
    auto *start = new (std::nothrow) Start{body, arg};
    if (!start)
        return 0;
    const uintptr_t handle = _beginthreadex(nullptr, 0, trampoline, start, 0, nullptr);
    if (handle == 0) {
        delete start;
        return 0;
    }
    return ThreadHandle(handle);
}

void endThread()
{
    _endthreadex(0);
}

bool waitThread(ThreadHandle handle, unsigned timeoutMs)
{
    if (!handle)
        return true;
    HANDLE thread = reinterpret_cast<HANDLE>(handle);
    if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(thread);
    return true;
}

} // namespace platform
