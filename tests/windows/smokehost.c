/* Smoke host for the Windows build of the plug-in: loads the DLL the way an ExtIO host does, checks
 * that every entry point resolves under its plain and its decorated name, that the version resource
 * carries the given version, calls InitHW, GetHWLO, GetHWSR, OpenHW, ShowGUI, HideGUI and CloseHW in
 * that order, unloads the DLL (which stays mapped once it has run Qt) and prints what it saw. Like
 * most hosts it declares no DPI awareness: the plug-in must leave it undeclared, so the host can
 * still declare its own afterwards. Exits 0 only if everything matched.
 * Usage: smokehost.exe <plug-in.dll> <version, e.g. 1.0.0> */
#include "protocol/hostinterface.h"

#include <windows.h>

#include <shellscalingapi.h>

#include <stdbool.h>
#include <stdio.h>
#include <string.h>

enum { kTextBytes = 256, kWindowWaitMs = 5000, kPollMs = 50 };
/* Indexes into kEntries. */
enum Entry {
    eInitHW,
    eOpenHW,
    eStartHW,
    eStopHW,
    eCloseHW,
    eSetHWLO,
    eGetHWLO,
    eGetHWSR,
    eGetStatus,
    eSetCallback,
    eShowGUI,
    eHideGUI,
    kEntryCount
};
static const long kDefaultLoHz = 7200000;
static const int kHardwareTypeInt32 = 6;

static const struct
{
    const char *plain;
    const char *decorated;
} kEntries[kEntryCount] = {
    {"InitHW", "_InitHW@12"},          {"OpenHW", "_OpenHW@0"},   {"StartHW", "_StartHW@4"},
    {"StopHW", "_StopHW@0"},           {"CloseHW", "_CloseHW@0"}, {"SetHWLO", "_SetHWLO@4"},
    {"GetHWLO", "_GetHWLO@0"},         {"GetHWSR", "_GetHWSR@0"}, {"GetStatus", "_GetStatus@0"},
    {"SetCallback", "_SetCallback@4"}, {"ShowGUI", "_ShowGUI@0"}, {"HideGUI", "_HideGUI@0"},
};

static int failures;

static void fail(const char *what)
{
    printf("FAIL: %s\n", what);
    ++failures;
}

/* FARPROC to a typed pointer through void(*)(void), the type GCC lets any function pointer become. */
typedef void (*AnyFn)(void);

static AnyFn entry(HMODULE dll, const char *name)
{
    return (AnyFn)GetProcAddress(dll, name);
}

static void checkVersion(const char *path, const char *expected)
{
    unsigned major = 0, minor = 0, patch = 0;
    char dotted[64];
    if (sscanf(expected, "%u.%u.%u", &major, &minor, &patch) != 3) {
        fail("the expected version is not three numbers");
        return;
    }
    snprintf(dotted, sizeof dotted, "%u.%u.%u.0", major, minor, patch);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    static char info[16384];
    if (size == 0 || size > sizeof info || !GetFileVersionInfoA(path, 0, size, info)) {
        fail("no version resource");
        return;
    }
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT len = 0;
    if (!VerQueryValueA(info, "\\", (void **)&fixed, &len) || len < sizeof *fixed) {
        fail("no fixed version block");
        return;
    }
    printf("version %u.%u.%u.%u\n", (unsigned)HIWORD(fixed->dwFileVersionMS),
           (unsigned)LOWORD(fixed->dwFileVersionMS), (unsigned)HIWORD(fixed->dwFileVersionLS),
           (unsigned)LOWORD(fixed->dwFileVersionLS));
    if (fixed->dwFileVersionMS != (DWORD)MAKELONG(minor, major) ||
        fixed->dwFileVersionLS != (DWORD)MAKELONG(0, patch) ||
        fixed->dwProductVersionMS != fixed->dwFileVersionMS ||
        fixed->dwProductVersionLS != fixed->dwFileVersionLS)
        fail("file or product version differs from the expected one");
    const char *text = NULL;
    if (!VerQueryValueA(info, "\\StringFileInfo\\040904B0\\ProductVersion", (void **)&text, &len) ||
        strcmp(text, dotted) != 0)
        fail("product version text");
    const char *product = NULL;
    if (!VerQueryValueA(info, "\\StringFileInfo\\040904B0\\ProductName", (void **)&product, &len)) {
        fail("no product name");
        return;
    }
    printf("product %s\n", product);
    if (strcmp(product, "ExtIO_TarnixDDC") != 0)
        fail("product name");
}

/* The process's DPI awareness, or -1 when it cannot be read. */
static int dpiAwareness(void)
{
    PROCESS_DPI_AWARENESS awareness = PROCESS_DPI_UNAWARE;
    return SUCCEEDED(GetProcessDpiAwareness(NULL, &awareness)) ? (int)awareness : -1;
}

static void checkDpiAwareness(const char *when, int before)
{
    const int now = dpiAwareness();
    printf("DPI awareness %s: %d\n", when, now);
    if (now != before)
        fail("the plug-in changed the process's DPI awareness");
}

static BOOL CALLBACK countVisible(HWND window, LPARAM arg)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window))
        ++*(int *)arg;
    return TRUE;
}

static int visibleWindows(void)
{
    int count = 0;
    EnumWindows(countVisible, (LPARAM)&count);
    return count;
}

/* The panel may not exist yet right after OpenHW, so a host asks again until it shows (bounded). */
static bool callUntil(ShowGUIFn call, bool wantVisible)
{
    for (int waitedMs = 0; waitedMs <= kWindowWaitMs; waitedMs += kPollMs) {
        call();
        if ((visibleWindows() > 0) == wantVisible)
            return true;
        Sleep(kPollMs);
    }
    return false;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc != 3) {
        fprintf(stderr, "usage: smokehost <plug-in.dll> <version>\n");
        return 2;
    }
    /* Undeclared, as on Windows for a program without a manifest that says otherwise. */
    const int awarenessBefore = dpiAwareness();
    printf("DPI awareness before loading: %d\n", awarenessBefore);
    if (awarenessBefore != PROCESS_DPI_UNAWARE)
        fail("the process starts DPI aware: Wine's prefix lacks DpiScalingVer");
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        printf("FAIL: LoadLibrary error %lu\n", GetLastError());
        return 1;
    }
    printf("loaded %s\n", argv[1]);

    AnyFn fns[kEntryCount];
    for (int i = 0; i < kEntryCount; ++i) {
        fns[i] = entry(dll, kEntries[i].plain);
        AnyFn decorated = entry(dll, kEntries[i].decorated);
        if (!fns[i] || fns[i] != decorated) {
            printf("FAIL: %s / %s resolve to %p / %p\n", kEntries[i].plain, kEntries[i].decorated,
                   (void *)fns[i], (void *)decorated);
            ++failures;
        }
    }
    if (failures) {
        FreeLibrary(dll);
        return 1;
    }
    printf("entry points: %d, each under both names\n", kEntryCount);
    checkVersion(argv[1], argv[2]);

    char name[kTextBytes], model[kTextBytes];
    memset(name, 0x7f, sizeof name);
    memset(model, 0x7f, sizeof model);
    int type = -1;
    const bool initOk = ((InitHWFn)fns[eInitHW])(name, model, &type);
    name[kTextBytes - 1] = model[kTextBytes - 1] = '\0';
    printf("InitHW %d name \"%s\" model \"%s\" type %d\n", initOk, name, model, type);
    if (!initOk || strcmp(name, "Receiver TarnixDDC") != 0 || strcmp(model, "TarnixDDC") != 0 ||
        type != kHardwareTypeInt32)
        fail("InitHW");

    const long lo = ((GetHWLOFn)fns[eGetHWLO])();
    printf("GetHWLO %ld\n", lo);
    if (lo != kDefaultLoHz)
        fail("GetHWLO");

    const long rate = ((GetHWSRFn)fns[eGetHWSR])();
    printf("GetHWSR %ld\n", rate);
    if (rate != 78125 && rate != 156250 && rate != 312500)
        fail("GetHWSR");

    const bool openOk = ((OpenHWFn)fns[eOpenHW])();
    printf("OpenHW %d\n", openOk);
    if (!openOk)
        fail("OpenHW");

    const bool shown = callUntil((ShowGUIFn)fns[eShowGUI], true);
    printf("ShowGUI visible windows %d\n", visibleWindows());
    if (!shown)
        fail("ShowGUI showed no window");
    checkDpiAwareness("with the panel shown", awarenessBefore);

    const bool hidden = callUntil((HideGUIFn)fns[eHideGUI], false);
    printf("HideGUI visible windows %d\n", visibleWindows());
    if (!hidden)
        fail("HideGUI left a window visible");

    ((CloseHWFn)fns[eCloseHW])();
    printf("CloseHW returned\n");

    if (!FreeLibrary(dll))
        fail("FreeLibrary");
    printf("unloaded\n");
    checkDpiAwareness("after CloseHW", awarenessBefore);
    /* Still the host's to choose: a declaration fails once anything in the process has made one. */
    const HRESULT declared = SetProcessDpiAwareness(PROCESS_PER_MONITOR_DPI_AWARE);
    printf("the host declares its own DPI awareness: 0x%lx\n", (unsigned long)declared);
    if (FAILED(declared))
        fail("the host can no longer declare its own DPI awareness");
    /* Once Qt has run, the DLL stays mapped: Qt's own clean-up thread may still be running its code. */
    if (!GetModuleHandleA(argv[1]))
        fail("the DLL was unmapped although Qt's threads may still run its code");
    printf(failures ? "smoke host: %d failure(s)\n" : "smoke host: all good\n", failures);
    return failures ? 1 : 0;
}
