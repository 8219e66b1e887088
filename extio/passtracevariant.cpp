// Built only into ExtIO_TarnixDDC_trace, the test variant of the plug-in: the pass trace is on from the
// moment the library is loaded, and each connection leaves its figures in TarnixDDC_trace.txt.
#include "platform/passtrace.h"

namespace {
const bool g_passTraceOn = (platform::passtrace::setOn(true), true);
} // namespace
