#pragma once

// The ExtIO entry points. 32-bit Windows hosts call them __stdcall and also look for the decorated
// names (_InitHW@12, ...), which the module definition file adds.

#include "stream/iqpair.h"

#if defined(_WIN32) && !defined(_WIN64)
#define EXTIO_CALL __stdcall
#else
#define EXTIO_CALL
#endif

#if defined(_WIN32)
#define EXTIO_EXPORT
#else
#define EXTIO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// `type` is an int& in the host's declaration; a reference travels as a pointer, so taking a pointer
// is the same call and lets a null from a careless host be refused instead of written through.
EXTIO_EXPORT bool EXTIO_CALL InitHW(char *name, char *model, int *type);
EXTIO_EXPORT bool EXTIO_CALL OpenHW();
EXTIO_EXPORT int EXTIO_CALL StartHW(long freq);
EXTIO_EXPORT void EXTIO_CALL StopHW();
EXTIO_EXPORT void EXTIO_CALL CloseHW();
EXTIO_EXPORT int EXTIO_CALL SetHWLO(long freq);
EXTIO_EXPORT long EXTIO_CALL GetHWLO();
EXTIO_EXPORT long EXTIO_CALL GetHWSR();
EXTIO_EXPORT int EXTIO_CALL GetStatus();
EXTIO_EXPORT void EXTIO_CALL SetCallback(HostCallback callback);
EXTIO_EXPORT void EXTIO_CALL ShowGUI();
EXTIO_EXPORT void EXTIO_CALL HideGUI();
}
