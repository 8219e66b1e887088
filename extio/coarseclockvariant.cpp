// Built only into ExtIO_TarnixDDC_coarseclock, the test variant of the plug-in: the coarse clock is on
// from the moment the library is loaded, so a host sees the plug-in as a Windows machine at its
// default timer resolution would run it.
#include "platform/clock.h"

namespace {
const bool g_coarseClockOn = (platform::setCoarseClock(true), true);
} // namespace
