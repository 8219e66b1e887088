/* Takes pictures of the Windows plug-in's panel as a host shows it: loads the DLL, opens and shows
 * the panel, and saves the window as it is on the screen, once with the Connection tab and once with
 * the About tab, as 24-bit BMP files. With "aware" it first declares itself DPI aware, as hosts do
 * that scale their own windows; the panel then follows the system scale. Built with the cross
 * compiler by scripts/render-windows-panel, which runs it under Wine.
 * Usage: panelshot.exe <plug-in.dll> <picture prefix> [aware]
 *        (writes <prefix>-connection.bmp and <prefix>-about.bmp) */
#include "protocol/hostinterface.h"

#include <windows.h>

#include <shellscalingapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kTextBytes = 256, kWaitMs = 5000, kPollMs = 50, kSettleMs = 700 };
static const char kPanelTitle[] = "TarnixDDC Control panel";

typedef void (*AnyFn)(void);

static AnyFn entry(HMODULE dll, const char *name)
{
    AnyFn fn = (AnyFn)GetProcAddress(dll, name);
    if (!fn) {
        printf("panelshot: no entry point %s\n", name);
        ExitProcess(1);
    }
    return fn;
}

/* Shows the panel, asking again until it is on the screen (it may not exist yet right after OpenHW). */
static HWND showPanel(ShowGUIFn show)
{
    for (int waitedMs = 0; waitedMs <= kWaitMs; waitedMs += kPollMs) {
        show();
        HWND window = FindWindowA(NULL, kPanelTitle);
        if (window && IsWindowVisible(window))
            return window;
        Sleep(kPollMs);
    }
    return NULL;
}

/* The window with its frame as the screen shows it, bottom-up rows of 24-bit pixels. */
static int save(HWND window, const char *path)
{
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const int stride = (width * 3 + 3) & ~3;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header;
    memset(&header, 0, sizeof header);
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = (DWORD)(stride * height);
    unsigned char *pixels = width > 0 && height > 0 ? malloc(header.biSizeImage) : NULL;
    int ok = pixels && GetDIBits(memory, bitmap, 0, (UINT)height, pixels, (BITMAPINFO *)&header,
                                 DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    if (!ok) {
        printf("panelshot: could not read the screen\n");
        free(pixels);
        return 0;
    }

    BITMAPFILEHEADER file;
    memset(&file, 0, sizeof file);
    file.bfType = 0x4d42; /* "BM" */
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE *out = fopen(path, "wb");
    ok = out && fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&header, sizeof header, 1, out) == 1 &&
         fwrite(pixels, header.biSizeImage, 1, out) == 1;
    if (out)
        ok = fclose(out) == 0 && ok;
    free(pixels);
    printf("panelshot: %s %dx%d%s\n", path, width, height, ok ? "" : " NOT WRITTEN");
    return ok;
}

/* The Right key to the panel, whose tab bar has the focus when it first shows: the next tab. */
static void nextTab(HWND window)
{
    const UINT scan = MapVirtualKeyA(VK_RIGHT, MAPVK_VK_TO_VSC);
    const LPARAM extended = 1 << 24;
    PostMessageA(window, WM_KEYDOWN, VK_RIGHT, 1 | (LPARAM)scan << 16 | extended);
    PostMessageA(window, WM_KEYUP, VK_RIGHT, 1 | (LPARAM)scan << 16 | extended | 3u << 30);
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "aware") != 0)) {
        fprintf(stderr, "usage: panelshot <plug-in.dll> <picture prefix> [aware]\n");
        return 2;
    }
    if (argc == 4 && FAILED(SetProcessDpiAwareness(PROCESS_PER_MONITOR_DPI_AWARE))) {
        printf("panelshot: could not declare DPI awareness\n");
        return 1;
    }
    HDC screen = GetDC(NULL);
    printf("panelshot: %d DPI\n", GetDeviceCaps(screen, LOGPIXELSX));
    ReleaseDC(NULL, screen);

    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        printf("panelshot: LoadLibrary error %lu\n", GetLastError());
        return 1;
    }
    char name[kTextBytes], model[kTextBytes];
    int type = 0;
    ((InitHWFn)entry(dll, "InitHW"))(name, model, &type);
    ((OpenHWFn)entry(dll, "OpenHW"))();
    HWND window = showPanel((ShowGUIFn)entry(dll, "ShowGUI"));
    if (!window) {
        printf("panelshot: the panel did not show\n");
        return 1;
    }
    char path[MAX_PATH];
    Sleep(kSettleMs);
    snprintf(path, sizeof path, "%s-connection.bmp", argv[2]);
    int ok = save(window, path);
    nextTab(window);
    Sleep(kSettleMs);
    snprintf(path, sizeof path, "%s-about.bmp", argv[2]);
    ok = save(window, path) && ok;

    ((HideGUIFn)entry(dll, "HideGUI"))();
    ((CloseHWFn)entry(dll, "CloseHW"))();
    return ok ? 0 : 1;
}
