#include "platform/testseam.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<SeamHook> g_hook{nullptr};
}

void setSeamHook(SeamHook hook)
{
    g_hook = hook;
}

void passSeam(SeamPoint point, const void *subject)
{
    if (const SeamHook hook = g_hook.load(std::memory_order_acquire))
        hook(point, subject);
}

} // namespace platform
