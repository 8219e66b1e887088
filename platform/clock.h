#pragma once

#include <cstdint>

namespace platform {

// Monotonic time in nanoseconds from an arbitrary origin, the same clock in every thread: the stream
// thread stamps sends and receive passes with it, the driver thread compares its deadlines to them.
std::int64_t monotonicNs();

// The length of one tick of Windows' default system timer: what a 1 ms sleep lasts there unless the
// process asks for a finer timer (and what Windows may impose anyway on a process without visible
// windows).
constexpr int kCoarseTickUs = 15625;

// Test seam: with the coarse clock on, every sleep of the plug-in's threads and the upper bound of
// every wait for work last a whole number of coarse ticks, at least one, as on a machine running at
// the default timer resolution. Wake-ups by the awaited event itself stay immediate, as they are
// there. Off unless a test turns it on; nothing in the plug-in does.
void setCoarseClock(bool on);
bool coarseClock();

// Sleeps, honouring the coarse clock.
void sleepMs(unsigned long ms);

// The upper bound a wait of `ms` milliseconds really gets: `ms` itself, or under the coarse clock
// whole ticks (rounded up to whole milliseconds). 0 stays 0: a look without waiting.
int waitBoundMs(int ms);

} // namespace platform
