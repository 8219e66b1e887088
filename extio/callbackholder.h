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

    // What the sample output is given to call for a stream: an entry that runs the host's callback
    // with the calling thread marked as inside it. Null when `callback` is null.
    static HostCallback streamEntry(HostCallback callback);
    // Makes `callback` the one that entry runs, as a new stream starts (a SetCallback made while a
    // stream runs takes effect at the next start, not in the middle of this one).
    static void useForStream(HostCallback callback);
    // True on a thread that is running the host's callback right now. Exports called there must not
    // wait for anything that waits for that thread to return from the callback.
    static bool insideCallback();

private:
    CallbackHolder() = default;

    QMutex m_mutex;
    HostCallback m_callback = nullptr;
};
