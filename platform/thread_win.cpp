#include "platform/thread.h"

#include <process.h>
#include <windows.h>

namespace platform {

ThreadHandle beginThread(ThreadBody body, void *arg)
{
    const uintptr_t handle = _beginthread(body, 0, arg);
    return handle == uintptr_t(-1L) ? 0 : ThreadHandle(handle);
}

void endThread()
{
    _endthread();
}

bool waitThread(ThreadHandle handle, unsigned timeoutMs)
{
    if (!handle)
        return true;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(handle), timeoutMs) == WAIT_OBJECT_0;
}

} // namespace platform
