#include "tools/host/extiolibrary.h"

#include <QFile>

#include <dlfcn.h>

void *ExtioLibrary::openLibrary(const QString &path, QString *error)
{
    // RTLD_LOCAL keeps the plug-in's symbols to itself, as a Windows DLL's would be.
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = dlerror();
        *error = reason ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown loader error");
    }
    return handle;
}

void *ExtioLibrary::findSymbol(const char *plainName, int) const
{
    return dlsym(m_handle, plainName);
}

void ExtioLibrary::closeLibrary()
{
    dlclose(m_handle);
}
