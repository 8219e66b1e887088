#include "platform/priority.h"

#include <windows.h>

namespace platform {

void raiseProcessPriority()
{
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, GetCurrentProcessId());
    if (process) {
        SetPriorityClass(process, REALTIME_PRIORITY_CLASS);
        CloseHandle(process);
    }
}

void raiseCurrentThreadPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

} // namespace platform
