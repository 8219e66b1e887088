#pragma once

#include <QString>

// The exports a receiver plug-in offers an ExtIO host. On 32-bit Windows the plug-in's functions
// are __stdcall while the sample callback it calls stays __cdecl.
#if defined(_WIN32) && !defined(_WIN64)
#define EXTIO_API __stdcall
#define EXTIO_CALLBACK __cdecl
#else
#define EXTIO_API
#define EXTIO_CALLBACK
#endif

using ExtioCallback = void(EXTIO_CALLBACK *)(int count, int status, float iqOffset, void *data);

struct ExtioExports
{
    bool(EXTIO_API *initHw)(char *name, char *model, int &type) = nullptr;
    bool(EXTIO_API *openHw)() = nullptr;
    int(EXTIO_API *startHw)(long freqHz) = nullptr;
    void(EXTIO_API *stopHw)() = nullptr;
    void(EXTIO_API *closeHw)() = nullptr;
    int(EXTIO_API *setHwLo)(long freqHz) = nullptr;
    long(EXTIO_API *getHwLo)() = nullptr;
    long(EXTIO_API *getHwSr)() = nullptr;
    int(EXTIO_API *getStatus)() = nullptr;
    void(EXTIO_API *setCallback)(ExtioCallback callback) = nullptr;
    void(EXTIO_API *showGui)() = nullptr;
    void(EXTIO_API *hideGui)() = nullptr;
};

// Loads one plug-in file and resolves its twelve exports. The platform part (dlopen or
// LoadLibrary) lives in extiolibrary_posix.cpp / extiolibrary_win.cpp.
class ExtioLibrary
{
public:
    ExtioLibrary() = default;
    ~ExtioLibrary();
    ExtioLibrary(const ExtioLibrary &) = delete;
    ExtioLibrary &operator=(const ExtioLibrary &) = delete;

    // False with a plain-language reason in errorString() when the file is missing, cannot be
    // loaded, or lacks any of the exports (all missing names are listed).
    bool load(const QString &path);
    void unload();
    bool isLoaded() const { return m_handle != nullptr; }
    const ExtioExports &exports() const { return m_exports; }
    QString errorString() const { return m_error; }

private:
    // Platform part: open the file, look up one name, close.
    void *openLibrary(const QString &path, QString *error);
    void *findSymbol(const char *plainName, int argumentBytes) const;
    void closeLibrary();
    bool resolveAll();

    void *m_handle = nullptr;
    ExtioExports m_exports;
    QString m_error;
};
