#include "platform/clock.h"

#include <windows.h>

namespace platform {

// The performance counter: a standard library's steady clock may tick in 15.6 ms steps here.
std::int64_t monotonicNs()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const LONGLONG seconds = now.QuadPart / frequency, rest = now.QuadPart % frequency;
    return std::int64_t(seconds) * 1000000000 + std::int64_t(rest) * 1000000000 / frequency;
}

} // namespace platform
