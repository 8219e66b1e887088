#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace platform {

namespace {
struct Start
{
    ThreadBody body;
    void *arg;
};

void *trampoline(void *p)
{
    const Start start = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    start.body(start.arg);
    return nullptr;
}
} // namespace

ThreadHandle beginThread(ThreadBody body, void *arg)
{
    auto *start = new (std::nothrow) Start{body, arg};
    if (!start)
        return 0;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, trampoline, start) != 0) {
        delete start;
        return 0;
    }
    return static_cast<ThreadHandle>(thread);
}

void endThread() {}

void keepModuleLoaded() {}

bool waitThread(ThreadHandle handle, unsigned timeoutMs)
{
    if (!handle)
        return true;
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += long(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // A thread not joined in time stays joinable; a later wait may still collect it.
    return pthread_timedjoin_np(static_cast<pthread_t>(handle), nullptr, &deadline) == 0;
}

} // namespace platform
