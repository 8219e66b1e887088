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

// Keeps the module this code lives in mapped until the process ends, whatever the host unloads. On
// Windows, where Qt is linked into the DLL, Qt runs a thread of its own on the DLL's code (the one
// that tidies up after threads it adopted, such as the GUI thread) which nothing of ours can wait
// for: a host that unloads right after CloseHW would unmap the code under it. Nothing on POSIX, where
// Qt is a library of its own and the plug-in stops every thread it started before it is unloaded.
void keepModuleLoaded();

// Waits at most timeoutMs for the thread to end. True if it has ended; the handle is then spent
// (joined, closed) and must not be waited for again. After false it may be waited for again.
bool waitThread(ThreadHandle handle, unsigned timeoutMs);

} // namespace platform
