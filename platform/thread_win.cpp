#include "platform/thread.h"

#include <process.h>
#include <windows.h>

#include <new>

namespace platform {

// _beginthreadex rather than _beginthread: the handle _beginthread returns is closed by the runtime
// as the thread ends, so a wait that starts after a quick exit would use a dead (or already reused)
// handle. Here the handle stays valid until a wait has seen the thread end and closes it.
//
// Each thread also holds a reference to the module its code lives in and drops it only as it exits
// (FreeLibraryAndExitThread): a host may unload the plug-in while the thread is still tearing down
// after a bounded wait ran out, and the code must stay mapped until the thread is gone.
namespace {
struct Start
{
    ThreadBody body;
    void *arg;
    HMODULE module;
};

unsigned __stdcall trampoline(void *p)
{
    const Start start = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    start.body(start.arg);
    if (start.module)
        FreeLibraryAndExitThread(start.module, 0);
    return 0;
}

HMODULE pinOwnModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<const void *>(&trampoline)), &module))
        return nullptr;
    return module;
}
} // namespace

ThreadHandle beginThread(ThreadBody body, void *arg)
{
    auto *start = new (std::nothrow) Start{body, arg, pinOwnModule()};
    if (!start)
        return 0;
    const uintptr_t handle = _beginthreadex(nullptr, 0, trampoline, start, 0, nullptr);
    if (handle == 0) {
        if (start->module)
            FreeLibrary(start->module);
        delete start;
        return 0;
    }
    return ThreadHandle(handle);
}

void keepModuleLoaded()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<const void *>(&trampoline)), &module);
}

// The thread ends in its trampoline, which releases the module reference on the way out.
void endThread() {}

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
