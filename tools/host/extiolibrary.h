#pragma once

#include "protocol/hostinterface.h"

#include <QString>

// The exports a receiver plug-in offers an ExtIO host.
struct ExtioExports
{
    InitHWFn initHw = nullptr;
    OpenHWFn openHw = nullptr;
    StartHWFn startHw = nullptr;
    StopHWFn stopHw = nullptr;
    CloseHWFn closeHw = nullptr;
    SetHWLOFn setHwLo = nullptr;
    GetHWLOFn getHwLo = nullptr;
    GetHWSRFn getHwSr = nullptr;
    GetStatusFn getStatus = nullptr;
    SetCallbackFn setCallback = nullptr;
    ShowGUIFn showGui = nullptr;
    HideGUIFn hideGui = nullptr;
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
