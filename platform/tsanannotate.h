#pragma once

// Hand-over annotations for ThreadSanitizer where the hand-over happens inside uninstrumented Qt code
// (a blocking queued invocation waits on a futex semaphore inside Qt). No-ops in other builds.

#include "platform/mutexlocker.h" // defines TARNIX_TSAN

#ifdef TARNIX_TSAN
extern "C" {
void __tsan_acquire(void *addr);
void __tsan_release(void *addr);
}
#endif

namespace platform {

inline void tsanAcquire(void *addr)
{
#ifdef TARNIX_TSAN
    __tsan_acquire(addr);
#else
    (void)addr;
#endif
}

inline void tsanRelease(void *addr)
{
#ifdef TARNIX_TSAN
    __tsan_release(addr);
#else
    (void)addr;
#endif
}

} // namespace platform
