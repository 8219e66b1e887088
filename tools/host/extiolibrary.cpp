#include "tools/host/extiolibrary.h"

#include <QFileInfo>
#include <QStringList>

namespace {

// Plain name and argument byte count (for the decorated 32-bit Windows name).
struct ExportName
{
    const char *name;
    int argumentBytes;
};

template <typename Fn> void assign(Fn *slot, void *symbol)
{
    *slot = reinterpret_cast<Fn>(symbol);
}

} // namespace

ExtioLibrary::~ExtioLibrary()
{
    unload();
}

bool ExtioLibrary::load(const QString &path)
{
    unload();
    m_error.clear();
    const QFileInfo info(path);
    if (!info.exists()) {
        m_error = QStringLiteral("the plug-in file %1 does not exist").arg(path);
        return false;
    }
    if (!info.isFile()) {
        m_error = QStringLiteral("%1 is not a file").arg(path);
        return false;
    }
    QString reason;
    m_handle = openLibrary(info.absoluteFilePath(), &reason);
    if (!m_handle) {
        m_error = QStringLiteral("the plug-in %1 could not be loaded: %2").arg(path, reason);
        return false;
    }
    if (!resolveAll()) {
        m_error = QStringLiteral("%1 is not an ExtIO plug-in: %2").arg(path, m_error);
        closeLibrary();
        m_handle = nullptr;
        m_exports = ExtioExports();
        return false;
    }
    return true;
}

void ExtioLibrary::unload()
{
    if (m_handle)
        closeLibrary();
    m_handle = nullptr;
    m_exports = ExtioExports();
}

bool ExtioLibrary::resolveAll()
{
    static const ExportName names[] = {
        {"InitHW", 12}, {"OpenHW", 0},  {"StartHW", 4},   {"StopHW", 0},      {"CloseHW", 0}, {"SetHWLO", 4},
        {"GetHWLO", 0}, {"GetHWSR", 0}, {"GetStatus", 0}, {"SetCallback", 4}, {"ShowGUI", 0}, {"HideGUI", 0},
    };
    void *symbols[12];
    QStringList missing;
    for (int i = 0; i < 12; ++i) {
        symbols[i] = findSymbol(names[i].name, names[i].argumentBytes);
        if (!symbols[i])
            missing << QString::fromLatin1(names[i].name);
    }
    if (!missing.isEmpty()) {
        m_error = missing.size() == 12 ? QStringLiteral("it exports none of the ExtIO functions (%1)")
                                             .arg(missing.join(QStringLiteral(", ")))
                                       : QStringLiteral("it lacks the export%1 %2")
                                             .arg(missing.size() > 1 ? QStringLiteral("s") : QString(),
                                                  missing.join(QStringLiteral(", ")));
        return false;
    }
    assign(&m_exports.initHw, symbols[0]);
    assign(&m_exports.openHw, symbols[1]);
    assign(&m_exports.startHw, symbols[2]);
    assign(&m_exports.stopHw, symbols[3]);
    assign(&m_exports.closeHw, symbols[4]);
    assign(&m_exports.setHwLo, symbols[5]);
    assign(&m_exports.getHwLo, symbols[6]);
    assign(&m_exports.getHwSr, symbols[7]);
    assign(&m_exports.getStatus, symbols[8]);
    assign(&m_exports.setCallback, symbols[9]);
    assign(&m_exports.showGui, symbols[10]);
    assign(&m_exports.hideGui, symbols[11]);
    return true;
}
