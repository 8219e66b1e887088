#include "ui/tarnixdialog.h"

#include "ui/mainwindow.h"
#include "ui/receiveritem.h"
#include "ui_tarnixdialog.h"

namespace {
const char *const kTitle = "TarnixDDC";
}

TarnixDialog::TarnixDialog(MainWindow *panel, QWidget *parent)
    : QDialog(parent), m_ui(new Ui_TarnixDialog), m_panel(panel)
{
    m_ui->setupUi(this);
    setWindowTitle(QString::fromLatin1(kTitle));
    qRegisterMetaType<Receiver>("Receiver");
    setWindowFlags(Qt::Drawer);
}

TarnixDialog::~TarnixDialog()
{
    delete m_ui;
}

void TarnixDialog::showReceivers(const QList<Receiver> &list)
{
    setReceivers(list);
    exec();
}

void TarnixDialog::setReceivers(const QList<Receiver> &list)
{
    setWindowTitle(QString::fromLatin1(kTitle));
    for (ReceiverItem *row : qAsConst(m_rows)) {
        m_ui->rxLayout->removeWidget(row);
        delete row;
    }
    m_rows.clear();
    for (const Receiver &r : list) {
        auto *row = new ReceiverItem(r);
        m_rows.append(row);
        // Position 0: each new row goes above the earlier ones and the spacer stays last.
        m_ui->rxLayout->insertWidget(0, row);
        connect(row, SIGNAL(receiver(Receiver)), this, SLOT(chooseReceiver(Receiver)));
    }
}

void TarnixDialog::chooseReceiver(Receiver r)
{
    hide();
    if (m_panel)
        m_panel->setReceiver(r);
}
