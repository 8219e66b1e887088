#pragma once

#include "discovery/receiver.h"

#include <QDialog>

class Ui_ReceiverItem;

// One row of the found-receivers dialog: what identifies the receiver and a "Use" button. A
// QDialog so that the row's style sheet, which selects QDialog, draws its border.
class ReceiverItem : public QDialog
{
    Q_OBJECT

public:
    explicit ReceiverItem(Receiver r, QWidget *parent = nullptr);
    ~ReceiverItem() override;

    const Receiver &shownReceiver() const { return m_receiver; }
    // The label's rich text for a receiver.
    static QString labelText(const Receiver &r);

signals:
    void receiver(Receiver r);

public slots:
    void use();

protected:
    // Escape belongs to the dialog the row sits in, not to the row.
    void keyPressEvent(QKeyEvent *event) override;

private:
    Ui_ReceiverItem *m_ui;
    Receiver m_receiver;
};
