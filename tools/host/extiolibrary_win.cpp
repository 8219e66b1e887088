#include "tools/host/extiolibrary.h"

#include <QByteArray>
#include <QDir>

#include <windows.h>

void *ExtioLibrary::openLibrary(const QString &path, QString *error)
{
    const QString native = QDir::toNativeSeparators(path);
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t *>(native.utf16()));
    if (!module) {
        const DWORD code = GetLastError();
        wchar_t *text = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
        *error = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
        if (text)
            LocalFree(text);
    }
    return module;
}

void *ExtioLibrary::findSymbol(const char *plainName, int argumentBytes) const
{
    HMODULE module = static_cast<HMODULE>(m_handle);
    FARPROC symbol = GetProcAddress(module, plainName);
#if !defined(_WIN64)
    // A 32-bit plug-in may publish only the __stdcall-decorated name.
    if (!symbol) {
        const QByteArray decorated = "_" + QByteArray(plainName) + "@" + QByteArray::number(argumentBytes);
        symbol = GetProcAddress(module, decorated.constData());
    }
#else
    Q_UNUSED(argumentBytes);
#endif
    return reinterpret_cast<void *>(symbol);
}

void ExtioLibrary::closeLibrary()
{
    FreeLibrary(static_cast<HMODULE>(m_handle));
}
