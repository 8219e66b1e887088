#include <windows.h>

#include <timeapi.h>

namespace platform {

bool requestFineTimer()
{
    return timeBeginPeriod(1) == TIMERR_NOERROR;
}

void releaseFineTimer()
{
    timeEndPeriod(1);
}

} // namespace platform
