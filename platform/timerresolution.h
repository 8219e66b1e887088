#pragma once

namespace platform {

// While an object of this class lives, the process asks the system for a 1 ms timer, so that short
// sleeps and wait bounds last about what they say (on Windows timeBeginPeriod(1), given back with
// timeEndPeriod(1) by the destructor; a timer this fine is the rule elsewhere, and nothing is asked).
// Windows honours a finer timer for the whole machine, at some cost in power: hold it only while
// there is work that needs it.
class FineTimerResolution
{
public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution &) = delete;
    FineTimerResolution &operator=(const FineTimerResolution &) = delete;

private:
    bool m_held;
};

// Requests this process holds now; tests look here for one that was never given back.
int fineTimerRequests();

} // namespace platform
