#pragma once

/* The ExtIO host interface: the sample format and callback a host registers, and the twelve entry
 * points it calls. One header for the plug-in, the hosts and fakes that load plug-ins, in C and C++. */

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdbool.h>
#include <stdint.h>
#endif

/* 32-bit Windows hosts call the entry points __stdcall and also look for the decorated names
 * (_InitHW@12, ...), which the plug-in's module definition file adds; the sample callback the
 * plug-in calls stays __cdecl. */
#if defined(_WIN32) && !defined(_WIN64)
#define EXTIO_CALL __stdcall
#define EXTIO_CALLBACK __cdecl
#else
#define EXTIO_CALL
#define EXTIO_CALLBACK
#endif

#if defined(_WIN32)
#define EXTIO_EXPORT
#else
#define EXTIO_EXPORT __attribute__((visibility("default")))
#endif

/* One complex sample as the host receives it: I then Q, signed 32-bit. */
typedef struct IqPair
{
    int32_t i;
    int32_t q;
} IqPair;
#ifdef __cplusplus
static_assert(sizeof(IqPair) == 8, "the host reads pairs as two packed 32-bit integers");
#else
_Static_assert(sizeof(IqPair) == 8, "the host reads pairs as two packed 32-bit integers");
#endif

/* The host's sample callback: count, status, I/Q offset, data (count pairs of IqPair). */
typedef void(EXTIO_CALLBACK *HostCallback)(int count, int status, float iqOffset, void *data);

#ifdef __cplusplus
extern "C" {
#endif
/* `type` is an int& in the host's declaration; a reference travels as a pointer, so taking a pointer
 * is the same call and lets a null from a careless host be refused instead of written through. */
EXTIO_EXPORT bool EXTIO_CALL InitHW(char *name, char *model, int *type);
EXTIO_EXPORT bool EXTIO_CALL OpenHW(void);
EXTIO_EXPORT int EXTIO_CALL StartHW(long freq);
EXTIO_EXPORT void EXTIO_CALL StopHW(void);
EXTIO_EXPORT void EXTIO_CALL CloseHW(void);
EXTIO_EXPORT int EXTIO_CALL SetHWLO(long freq);
EXTIO_EXPORT long EXTIO_CALL GetHWLO(void);
EXTIO_EXPORT long EXTIO_CALL GetHWSR(void);
EXTIO_EXPORT int EXTIO_CALL GetStatus(void);
EXTIO_EXPORT void EXTIO_CALL SetCallback(HostCallback callback);
EXTIO_EXPORT void EXTIO_CALL ShowGUI(void);
EXTIO_EXPORT void EXTIO_CALL HideGUI(void);
#ifdef __cplusplus
}
#endif

/* The same entry points as a host that loads the library at run time holds them. */
typedef bool(EXTIO_CALL *InitHWFn)(char *name, char *model, int *type);
typedef bool(EXTIO_CALL *OpenHWFn)(void);
typedef int(EXTIO_CALL *StartHWFn)(long freq);
typedef void(EXTIO_CALL *StopHWFn)(void);
typedef void(EXTIO_CALL *CloseHWFn)(void);
typedef int(EXTIO_CALL *SetHWLOFn)(long freq);
typedef long(EXTIO_CALL *GetHWLOFn)(void);
typedef long(EXTIO_CALL *GetHWSRFn)(void);
typedef int(EXTIO_CALL *GetStatusFn)(void);
typedef void(EXTIO_CALL *SetCallbackFn)(HostCallback callback);
typedef void(EXTIO_CALL *ShowGUIFn)(void);
typedef void(EXTIO_CALL *HideGUIFn)(void);
