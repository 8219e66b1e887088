#pragma once

#include <cstdint>

namespace platform {

// A started thread, as the C runtime hands it out; 0 means none.
using ThreadHandle = std::uintptr_t;
using ThreadBody = void (*)(void *arg);

// Starts body(arg) on a new thread with the default stack size; returns 0 on failure.
ThreadHandle beginThread(ThreadBody body, void *arg);

// Marks the end of a thread body started by beginThread; the body then returns. The thread ends in
// the platform layer: on Windows by releasing its hold on the plug-in's module as it exits, so the
// code stays mapped until the thread is gone; on POSIX by returning, since pthread_exit needs the
// dynamic loader's lock and would deadlock a thread stopped while the library is being unloaded.
void endThread();

// Waits at most timeoutMs for the thread to end. True if it has ended; the handle is then spent
// (joined, closed) and must not be waited for again. After false it may be waited for again.
bool waitThread(ThreadHandle handle, unsigned timeoutMs);

} // namespace platform
