#include "platform/timerresolution.h"

#include <atomic>

namespace platform {

// Defined per system: true when the request was granted (and must be given back).
bool requestFineTimer();
void releaseFineTimer();

namespace {
std::atomic<int> g_requests{0};
} // namespace

FineTimerResolution::FineTimerResolution() : m_held(requestFineTimer())
{
    if (m_held)
        ++g_requests;
}

FineTimerResolution::~FineTimerResolution()
{
    if (!m_held)
        return;
    releaseFineTimer();
    --g_requests;
}

int fineTimerRequests()
{
    return g_requests;
}

} // namespace platform
