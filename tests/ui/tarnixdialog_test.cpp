#include "tests/ui/uitestenv.h"

#include "tests/support/forms.h"
#include "ui/mainwindow.h"
#include "ui/receiveritem.h"
#include "ui/richtext.h"
#include "ui/tarnixdialog.h"

#include <QPointer>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

using DialogTest = UiTest;

Receiver rx(const QString &serial, const QString &address = "192.168.16.57", quint16 port = 50001)
{
    Receiver r;
    r.flag = true;
    r.name = "TarnixDDC";
    r.serial = serial;
    r.address = QHostAddress(address);
    r.port = port;
    return r;
}

// Serials of the rows from top to bottom, and whether the spacer stays last.
QStringList shownSerials(TarnixDialog &d, bool *spacerLast)
{
    QStringList serials;
    QLayout *layout = DialogForm(d).rxLayout;
    for (int i = 0; i < layout->count(); ++i) {
        if (auto *row = qobject_cast<ReceiverItem *>(layout->itemAt(i)->widget()))
            serials << row->shownReceiver().serial;
    }
    *spacerLast = layout->count() > 0 && layout->itemAt(layout->count() - 1)->spacerItem();
    return serials;
}

TEST_F(DialogTest, RichTextMatchesTheRowFormat)
{
    EXPECT_EQ(ReceiverItem::labelText(rx("1234")),
              QString("<html><span style=\" font-size:10pt; font-weight:600; color:rgb( 0,0,0);\">"
                      "TarnixDDC&nbsp;&nbsp;SN:&nbsp;1234<br/></span></html>"
                      "<html><span style=\" font-size:8pt; color:rgb( 0,0,255);\">"
                      "Address:192.168.16.57   </span></html>"
                      "<html><span style=\" font-size:8pt; color:rgb( 0,0,255);\">"
                      "&nbsp;&nbsp;Port:50001</span></html>"));
    EXPECT_EQ(
        richText("x", QColor(1, 20, 255), 12, true, false),
        QString(
            "<html><span style=\" font-size:12pt; font-weight:600; color:rgb( 1,20,255);\">x</span></html>"));
    EXPECT_EQ(richText("", QColor(0, 0, 0), 8, false, true),
              QString("<html><span style=\" font-size:8pt; color:rgb( 0,0,0);\"><br/></span></html>"));
}

TEST_F(DialogTest, RowsShowInReverseAndAreReplacedOnTheNextFill)
{
    MainWindow panel;
    TarnixDialog d(&panel);
    EXPECT_EQ(d.windowTitle(), QString("TarnixDDC"));
    EXPECT_EQ(DialogForm(d).label->text(), QString("Found receivers"));
    EXPECT_EQ(d.windowFlags() & Qt::WindowType_Mask, Qt::Drawer);
    EXPECT_NE(QMetaType::type("Receiver"), 0);

    bool spacerLast = false;
    d.setReceivers({rx("R1"), rx("R2"), rx("R3")});
    EXPECT_EQ(shownSerials(d, &spacerLast), QStringList({"R3", "R2", "R1"}));
    EXPECT_TRUE(spacerLast);
    QList<QPointer<ReceiverItem>> old;
    for (ReceiverItem *row : d.rows())
        old << row;

    d.setReceivers({rx("R4")});
    EXPECT_EQ(shownSerials(d, &spacerLast), QStringList({"R4"}));
    EXPECT_TRUE(spacerLast);
    for (const QPointer<ReceiverItem> &row : old)
        EXPECT_TRUE(row.isNull()) << "earlier rows are deleted";

    d.setReceivers({rx("R5"), rx("R5")});
    EXPECT_EQ(shownSerials(d, &spacerLast), QStringList({"R5", "R5"}));
    EXPECT_EQ(RowForm(*d.rows()[0]).label->text(), RowForm(*d.rows()[1]).label->text());

    d.setReceivers({});
    EXPECT_TRUE(shownSerials(d, &spacerLast).isEmpty());
    EXPECT_TRUE(spacerLast);
}

TEST_F(DialogTest, UseEndsTheModalRunAndFillsThePanelAndTheFile)
{
    MainWindow panel;
    TarnixDialog d(&panel);
    bool clicked = false;
    // Runs inside the modal loop: pick the middle receiver, shown in the middle row.
    QTimer::singleShot(0, &d, [&] {
        ASSERT_TRUE(d.isVisible());
        QTest::mouseClick(RowForm(*d.rows()[1]).pushButton, Qt::LeftButton);
        clicked = true;
    });
    // If "Use" failed to end the run, give up after a while rather than hang.
    QTimer::singleShot(5000, &d, &QDialog::reject);
    d.showReceivers({rx("RVD01000000001", "10.0.0.1", 1), rx("RVD01c3d400123", "192.168.16.57", 50002),
                     rx("RVD01000000003", "10.0.0.3", 3)});
    ASSERT_TRUE(clicked);
    EXPECT_FALSE(d.isVisible());
    const PanelForm ui(panel);
    EXPECT_EQ(ui.leIPaddress->text(), QString("192.168.16.57"));
    EXPECT_EQ(ui.sbPort->value(), 50002);
    EXPECT_EQ(ui.leSerial->text(), QString("RVD01c3d400123"));
    EXPECT_EQ(QSettings(iniPath(), QSettings::IniFormat).value("Serial").toByteArray(),
              QByteArray("RVD01c3d400123"));
}

TEST_F(DialogTest, EscapeClosesTheDialogWithoutAChoiceWhereverTheFocusIs)
{
    MainWindow panel;
    TarnixDialog d(&panel);
    // Focus on the dialog itself, then on a row's "Use" button (a row is a dialog of its own).
    for (const bool onUseButton : {false, true}) {
        SCOPED_TRACE(onUseButton ? "focus on Use" : "focus on the dialog");
        bool pressed = false;
        QTimer::singleShot(0, &d, [&] {
            QWidget *target = &d;
            if (onUseButton) {
                target = RowForm(*d.rows()[0]).pushButton;
                target->setFocus();
            }
            QTest::keyClick(target, Qt::Key_Escape);
            pressed = true;
        });
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &d, &QDialog::reject);
        timeout.start(5000);
        d.showReceivers({rx("RVD01c3d400123"), rx("RVD010a1f00123")});
        ASSERT_TRUE(pressed);
        EXPECT_TRUE(timeout.isActive()) << "Escape did not end the modal run";
        EXPECT_FALSE(d.isVisible());
        for (ReceiverItem *row : d.rows())
            EXPECT_TRUE(row->isVisibleTo(&d)) << "a row hid itself";
        EXPECT_EQ(d.rows().size(), 2) << "rows stay until the next fill";
    }
    const PanelForm ui(panel);
    EXPECT_EQ(ui.leIPaddress->text(), QString("192.168.16.200"));
    EXPECT_TRUE(ui.leSerial->text().isEmpty());
    EXPECT_TRUE(Settings::instance()->serial().isEmpty());
}

} // namespace
