#include "platform/priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

// Linux has no priority classes, and a real-time policy for polling threads can starve a small
// machine, so "raised" here means a lower nice value. Without the privilege the call fails and the
// thread keeps its priority.
namespace {
constexpr int kProcessNice = -5;
constexpr int kThreadNice = -10;
} // namespace

void raiseProcessPriority()
{
    if (getpriority(PRIO_PROCESS, getpid()) > kProcessNice)
        (void)setpriority(PRIO_PROCESS, getpid(), kProcessNice);
}

void raiseCurrentThreadPriority()
{
    // On Linux the nice value belongs to the thread (task), so this touches the calling thread only.
    const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, tid, kThreadNice);
}

} // namespace platform
