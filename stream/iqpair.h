#pragma once

#include <QtGlobal>

// One complex sample as the host receives it: I then Q, signed 32-bit.
struct IqPair
{
    qint32 i;
    qint32 q;
};
static_assert(sizeof(IqPair) == 8, "the host reads pairs as two packed 32-bit integers");

// The ExtIO host's sample callback: count, status, I/Q offset, data. The host declares it __cdecl.
#if defined(_WIN32) && !defined(_WIN64)
#define TARNIX_CDECL __cdecl
#else
#define TARNIX_CDECL
#endif
using HostCallback = void(TARNIX_CDECL *)(int count, int status, float iqOffset, void *data);
