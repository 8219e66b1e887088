#pragma once

#include "protocol/hostinterface.h"

#include <QMutex>

// The host's sample callback, registered through SetCallback on a host thread and read by Control
// when a receiver is opened on the GUI thread.
class CallbackHolder
{
public:
    // The process-wide holder, created on first use.
    static CallbackHolder *instance();
    // Deletes the holder at unload; a later instance() builds a new one.
    static void destroyInstance();

    void set(HostCallback callback);
    HostCallback get();

private:
    CallbackHolder() = default;

    QMutex m_mutex;
    HostCallback m_callback = nullptr;
};
