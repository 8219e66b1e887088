#pragma once

#include "discovery/receiver.h"

#include <QDialog>
#include <QList>

class MainWindow;
class ReceiverItem;
class Ui_TarnixDialog;

// Lists the receivers a search found, one row each; "Use" on a row puts that receiver into the
// control panel. Never opens a connection itself.
class TarnixDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TarnixDialog(MainWindow *panel, QWidget *parent = nullptr);
    ~TarnixDialog() override;

    // Fills the dialog and runs it modally until a choice or the user closes it.
    void showReceivers(const QList<Receiver> &list);
    // Replaces every row; the list's last receiver ends up on top.
    void setReceivers(const QList<Receiver> &list);

    // Rows in creation order (the reverse of the order shown).
    const QList<ReceiverItem *> &rows() const { return m_rows; }

public slots:
    void chooseReceiver(Receiver r);

private:
    Ui_TarnixDialog *m_ui;
    MainWindow *m_panel;
    QList<ReceiverItem *> m_rows;
};
