#pragma once

namespace platform {

// Test seam: places in the plug-in's threads where a test may hold the thread for a while, to make a
// race between them happen on demand. Nothing in the plug-in installs a hook; without one, passing a
// place costs one atomic load.
enum class SeamPoint {
    DriverHandedOver,     // the driver thread has just queued a control datagram for sending (subject: it)
    DriverBeforeTimeouts, // the driver thread has taken the replies and is about to look at timeouts
    StreamBeforeSend,     // the stream thread is about to send a control datagram (subject: it)
};

// `subject` is the QByteArray named above, or null.
using SeamHook = void (*)(SeamPoint point, const void *subject);

void setSeamHook(SeamHook hook);
void passSeam(SeamPoint point, const void *subject = nullptr);

} // namespace platform
