#pragma once

// Calls from other threads into the GUI thread. Qt does the hand-over (an event posted to the GUI
// thread) under its own futex-based locks, which ThreadSanitizer cannot see since Qt is not
// instrumented; the function here is kept out of line so that its reports of Qt's own accesses show
// it as the caller, and its suppression names it.

#include "platform/tsanannotate.h"

#include <QMetaObject>
#include <QObject>

// ThreadSanitizer names a function in a report by the places it called others from, so the call into
// Qt goes through a helper: the helper's call site names postToGuiThread. Both stay out of line, and
// out of GCC's cloning for a constant slot name, which would leave them without instrumentation.
#if defined(__GNUC__) && !defined(__clang__)
#define TARNIX_KEEP_FRAME __attribute__((noinline, noipa))
#else
#define TARNIX_KEEP_FRAME __attribute__((noinline))
#endif

namespace guiinvoke {

namespace detail {
template <typename... Args> TARNIX_KEEP_FRAME bool queuedCall(QObject *target, const char *slot, Args... args)
{
    platform::tsanRelease(target);
    // Not a tail call, so this function stays on the stack too.
    return QMetaObject::invokeMethod(target, slot, Qt::QueuedConnection, args...) && *slot;
}
} // namespace detail

// Queues a slot call for the target's thread without waiting. False if there is no target.
template <typename... Args>
TARNIX_KEEP_FRAME bool postToGuiThread(QObject *target, const char *slot, Args... args)
{
    if (!target || !slot || !*slot)
        return false;
    return detail::queuedCall(target, slot, args...) && *slot;
}

} // namespace guiinvoke
