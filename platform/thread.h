#pragma once

#include <cstdint>

namespace platform {

// A started thread, as the C runtime's _beginthread hands it out; 0 means none.
using ThreadHandle = std::uintptr_t;
using ThreadBody = void (*)(void *arg);

// Starts body(arg) on a new thread with the default stack size; returns 0 on failure.
ThreadHandle beginThread(ThreadBody body, void *arg);

// Ends the calling thread (a thread started by beginThread). Does not return.
[[noreturn]] void endThread();

// Waits at most timeoutMs for the thread to end. True if it has ended.
bool waitThread(ThreadHandle handle, unsigned timeoutMs);

} // namespace platform
