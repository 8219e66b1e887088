#pragma once

// Calls from host threads into the GUI thread. Qt does the hand-over (an event posted to the GUI
// thread, and for blocking calls a wait on a semaphore) under its own futex-based locks, which
// ThreadSanitizer cannot see since Qt is not instrumented; the functions here are kept out of line
// so that its reports of Qt's own accesses show them as the caller, and its suppressions name them.

#include "platform/tsanannotate.h"

#include <QMetaObject>
#include <QObject>

namespace guiinvoke {

namespace detail {
template <typename... Args>
__attribute__((noinline)) bool blockingCall(QObject *target, const char *slot, Args... args)
{
    platform::tsanRelease(target);
    const bool ok = QMetaObject::invokeMethod(target, slot, Qt::BlockingQueuedConnection, args...);
    platform::tsanAcquire(target);
    return ok && *slot;
}

template <typename... Args>
__attribute__((noinline)) bool queuedCall(QObject *target, const char *slot, Args... args)
{
    platform::tsanRelease(target);
    return QMetaObject::invokeMethod(target, slot, Qt::QueuedConnection, args...) && *slot;
}
} // namespace detail

// Runs a slot in the GUI thread and waits for it. False if the object is gone.
template <typename... Args>
__attribute__((noinline)) bool invokeBlocking(QObject *target, const char *slot, Args... args)
{
    if (!target || !slot || !*slot)
        return false;
    return detail::blockingCall(target, slot, args...);
}

// Queues a slot call for the GUI thread without waiting.
template <typename... Args>
__attribute__((noinline)) bool postToGuiThread(QObject *target, const char *slot, Args... args)
{
    if (!target || !slot || !*slot)
        return false;
    return detail::queuedCall(target, slot, args...);
}

} // namespace guiinvoke
