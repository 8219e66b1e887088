// Renders the panel's two tabs and the found-receivers dialog (three receivers) to PNG files.
// The panel's settings file goes to a temporary directory, never next to the pictures or the caller.
#include "ui/mainwindow.h"
#include "ui/tarnixdialog.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kHostDialogFontPt = 8;

Receiver makeReceiver(const char *serial, const char *address, quint16 port)
{
    Receiver r;
    r.flag = true;
    r.name = QStringLiteral("TarnixDDC");
    r.serial = QString::fromLatin1(serial);
    r.address = QHostAddress(QString::fromLatin1(address));
    r.port = port;
    return r;
}

bool save(QWidget *w, const QDir &dir, const char *name)
{
    // Let pending layout requests run, so the picture shows the final geometry.
    QApplication::processEvents();
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!w->grab().save(path, "PNG")) {
        std::fprintf(stderr, "tarnix-ui-render: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The panel is laid out for the 8-point dialog font of the host's desktop; the offscreen
    // platform's default is larger and would squeeze the fixed-width field column.
    QFont font = QApplication::font();
    font.setPointSize(kHostDialogFontPt);
    QApplication::setFont(font);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnix-ui-render <output-directory>\n");
        return 2;
    }
    const QDir dir(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    QTemporaryDir scratch;
    if (!dir.mkpath(QStringLiteral(".")) || !scratch.isValid() || !QDir::setCurrent(scratch.path())) {
        std::fprintf(stderr, "tarnix-ui-render: cannot use %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    {
        MainWindow panel;
        panel.setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        panel.show();
        auto *tabs = panel.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        ok = save(&panel, dir, "panel-connection.png") && ok;
        tabs->setCurrentIndex(1);
        ok = save(&panel, dir, "panel-about.png") && ok;
        tabs->setCurrentIndex(0);

        TarnixDialog dialog(&panel);
        dialog.setReceivers({makeReceiver("RVD01a0ff00042", "192.168.16.57", 50001),
                             makeReceiver("RVD01c3d400123", "192.168.16.58", 50001),
                             makeReceiver("RVD01c3d400124", "10.1.2.3", 50002)});
        dialog.show();
        ok = save(&dialog, dir, "dialog.png") && ok;
    }
    QDir::setCurrent(dir.path());
    return ok ? 0 : 1;
}
