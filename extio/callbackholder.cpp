#include "extio/callbackholder.h"

#include "platform/mutexlocker.h"

#include <atomic>

namespace {
std::atomic<CallbackHolder *> g_holder{nullptr};
}

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
