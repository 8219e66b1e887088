#include "ui/receiveritem.h"

#include "ui/richtext.h"
#include "ui_receiveritem.h"

#include <QKeyEvent>

namespace {
constexpr int kTitlePointSize = 10;
constexpr int kDetailPointSize = 8;
} // namespace

ReceiverItem::ReceiverItem(Receiver r, QWidget *parent)
    : QDialog(parent), m_ui(new Ui_ReceiverItem), m_receiver(std::move(r))
{
    m_ui->setupUi(this);
    m_ui->label->setText(labelText(m_receiver));
    connect(m_ui->pushButton, SIGNAL(clicked()), this, SLOT(use()));
}

ReceiverItem::~ReceiverItem()
{
    delete m_ui;
}

QString ReceiverItem::labelText(const Receiver &r)
{
    const QColor black(0, 0, 0);
    const QColor blue(0, 0, 255);
    return richText(r.name + QStringLiteral("&nbsp;&nbsp;SN:&nbsp;") + r.serial, black, kTitlePointSize, true,
                    true) +
           richText(QStringLiteral("Address:") + r.address.toString() + QStringLiteral("   "), blue,
                    kDetailPointSize, false, false) +
           richText(QStringLiteral("&nbsp;&nbsp;Port:") + QString::number(r.port), blue, kDetailPointSize,
                    false, false);
}

void ReceiverItem::keyPressEvent(QKeyEvent *event)
{
    // As a QDialog the row would reject (hide) itself; passed on, the key reaches the found-receivers
    // dialog, which closes as a whole.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ReceiverItem::use()
{
    emit receiver(m_receiver);
}
