#pragma once

namespace platform {

// Raises the whole process to the highest scheduling class the system grants (on Windows the
// real-time priority class). Best effort: refusal is ignored, nothing blocks.
void raiseProcessPriority();

// Raises the calling thread to the highest priority the system grants (on Windows
// THREAD_PRIORITY_TIME_CRITICAL). Best effort, like raiseProcessPriority().
void raiseCurrentThreadPriority();

} // namespace platform
