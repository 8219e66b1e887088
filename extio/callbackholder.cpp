#include "extio/callbackholder.h"

#include "platform/mutexlocker.h"

#include <atomic>

namespace {
std::atomic<CallbackHolder *> g_holder{nullptr};
std::atomic<HostCallback> g_streamCallback{nullptr};
thread_local bool t_insideCallback = false;

void EXTIO_CALLBACK enterHostCallback(int count, int status, float iqOffset, void *data)
{
    if (const HostCallback callback = g_streamCallback.load()) {
        t_insideCallback = true;
        callback(count, status, iqOffset, data);
        t_insideCallback = false;
    }
}
} // namespace

CallbackHolder *CallbackHolder::instance()
{
    CallbackHolder *holder = g_holder.load();
    if (holder)
        return holder;
    // Two threads may race to build it: the loser deletes its copy.
    auto *fresh = new CallbackHolder;
    if (g_holder.compare_exchange_strong(holder, fresh))
        return fresh;
    delete fresh;
    return holder;
}

void CallbackHolder::destroyInstance()
{
    delete g_holder.exchange(nullptr);
}

void CallbackHolder::set(HostCallback callback)
{
    platform::MutexLocker lock(&m_mutex);
    m_callback = callback;
}

HostCallback CallbackHolder::get()
{
    platform::MutexLocker lock(&m_mutex);
    return m_callback;
}

HostCallback CallbackHolder::streamEntry(HostCallback callback)
{
    return callback ? &enterHostCallback : nullptr;
}

void CallbackHolder::useForStream(HostCallback callback)
{
    g_streamCallback = callback;
}

bool CallbackHolder::insideCallback()
{
    return t_insideCallback;
}
