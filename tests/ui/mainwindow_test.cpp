#include "tests/ui/uitestenv.h"

#include "tests/support/forms.h"
#include "ui/mainwindow.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

using PanelTest = UiTest;

QVariant storedValue(const char *key)
{
    return QSettings(QString::fromLatin1(Settings::kFileName), QSettings::IniFormat).value(key);
}

TEST_F(PanelTest, FirstStartShowsTheDefaults)
{
    MainWindow w;
    const PanelForm ui(w);
    EXPECT_EQ(w.windowTitle(), QString("TarnixDDC Control panel"));
    EXPECT_EQ(w.minimumSize(), QSize(500, 330));
    EXPECT_EQ(w.maximumSize(), QSize(500, 330));
    EXPECT_EQ(ui.tabWidget->currentIndex(), 0);
    EXPECT_EQ(ui.tabWidget->tabText(0), QString("Connection"));
    EXPECT_EQ(ui.tabWidget->tabText(1), QString("About"));
    EXPECT_EQ(ui.leIPaddress->inputMask(), QString("000.000.000.000"));
    EXPECT_EQ(ui.leIPaddress->text(), QString("192.168.16.200"));
    EXPECT_EQ(ui.sbPort->minimum(), 1);
    EXPECT_EQ(ui.sbPort->maximum(), 65535);
    EXPECT_EQ(ui.sbPort->value(), 50001);
    EXPECT_TRUE(ui.leSerial->text().isEmpty());
    EXPECT_EQ(ui.cbSampleRate->currentText(), QString("312500"));
    EXPECT_TRUE(ui.chbUseLpf->isChecked());
    EXPECT_FALSE(ui.chbUseAtt->isChecked());
    // Both pictures come from the compiled-in resources.
    EXPECT_FALSE(ui.label_5->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_FALSE(ui.label_8->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(ui.label_6->font().pointSize(), 11);
    EXPECT_TRUE(ui.label_6->font().bold());
    EXPECT_EQ(ui.label_7->text(), QString("Version " TARNIX_VERSION));

    // The rate is fixed: the box is disabled and ignores the keyboard.
    EXPECT_FALSE(ui.cbSampleRate->isEnabled());
    QTest::keyClick(ui.cbSampleRate, Qt::Key_Up);
    EXPECT_EQ(ui.cbSampleRate->currentIndex(), 2);
}

TEST_F(PanelTest, SampleRateIdSelectsTheRateEverywhere)
{
    struct Case
    {
        const char *stored; // nullptr: key missing
        int id;
        int hz;
    };
    const Case cases[] = {
        {"0", 0, 78125},  {"1", 1, 156250},   {"2", 2, 312500},   {"-1", 2, 312500},    {"3", 2, 312500},
        {"7", 2, 312500}, {"abc", 2, 312500}, {"1.5", 2, 312500}, {nullptr, 2, 312500},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        writeIni(c.stored ? QByteArray("[General]\nSampleRateID=") + c.stored + "\n"
                          : QByteArray("[General]\n"));
        EXPECT_EQ(Settings::instance()->sampleRateId(), c.id);
        EXPECT_EQ(Settings::instance()->sampleRateHz(), c.hz);
        {
            MainWindow w;
            EXPECT_EQ(PanelForm(w).cbSampleRate->currentText(), QString::number(c.hz));
            EXPECT_EQ(w.sampleRateCode(), c.id + 1);
            EXPECT_EQ(w.currentSampleRate(), c.hz);
        }
        // A bad index is never corrected in the file, not even by the panel's save.
        EXPECT_EQ(storedValue("SampleRateID"), c.stored ? QVariant(QString(c.stored)) : QVariant());
    }
}

TEST_F(PanelTest, ASwitchIsAnnouncedFirstThenStored)
{
    MainWindow w;
    const PanelForm ui(w);
    for (QCheckBox *box : {ui.chbUseAtt, ui.chbUseLpf}) {
        const bool att = box == ui.chbUseAtt;
        const char *key = att ? "Use_ATT" : "Use_LPF";
        const bool before = box->isChecked();
        QList<QPair<bool, bool>> seen; // (argument, value in the file at that moment)
        auto c = QObject::connect(&w, att ? &MainWindow::changedAtt : &MainWindow::changedLpf, [&](bool on) {
            seen.append({on, storedValue(key).toBool()});
        });
        QTest::mouseClick(box, Qt::LeftButton);
        QObject::disconnect(c);
        ASSERT_EQ(seen.size(), 1) << key;
        EXPECT_EQ(seen[0].first, !before);
        EXPECT_EQ(seen[0].second, before) << "stored before the command object heard of it";
        EXPECT_EQ(storedValue(key).toBool(), !before);
    }
}

TEST_F(PanelTest, StoredSwitchesActLikeClicksDuringConstruction)
{
    // "1" and "0" read as true and false; the panel's own slots rewrite them as booleans, which
    // proves that the check boxes toggled (and so emitted) while the panel was built.
    writeIni("[General]\nUse_ATT=1\nUse_LPF=0\nSerial=@ByteArray(RVD01ab0100007)\n");
    MainWindow w;
    const PanelForm ui(w);
    EXPECT_TRUE(ui.chbUseAtt->isChecked());
    EXPECT_FALSE(ui.chbUseLpf->isChecked());
    EXPECT_EQ(ui.leSerial->text(), QString("RVD01ab0100007"));
    EXPECT_EQ(storedValue("Use_ATT").toString(), QString("true"));
    EXPECT_EQ(storedValue("Use_LPF").toString(), QString("false"));
}

TEST_F(PanelTest, ReceiverFieldsAndTheirLifetime)
{
    auto w = std::make_unique<MainWindow>();
    Receiver r;
    r.flag = true;
    r.name = "ignored";
    r.serial = "RVD01c3d400123";
    r.address = QHostAddress("192.168.16.57");
    r.port = 50002;
    w->setReceiver(r);
    EXPECT_EQ(storedValue("Serial").toByteArray(), QByteArray("RVD01c3d400123")) << "stored at once";

    const Receiver back = w->currentReceiver();
    EXPECT_FALSE(back.flag);
    EXPECT_TRUE(back.name.isEmpty());
    EXPECT_EQ(back.serial, r.serial);
    EXPECT_EQ(back.address, r.address);
    EXPECT_EQ(back.port, r.port);

    PanelForm(*w).leIPaddress->setText("999.1.1.1");
    EXPECT_TRUE(w->currentReceiver().address.isNull());

    // Destruction saves the switches and whatever the serial field holds.
    const PanelForm ui(*w);
    ui.leSerial->setText("typed");
    ui.chbUseAtt->blockSignals(true);
    ui.chbUseAtt->setChecked(true);
    ui.chbUseAtt->blockSignals(false);
    w.reset();
    EXPECT_EQ(storedValue("Serial").toByteArray(), QByteArray("typed"));
    EXPECT_TRUE(storedValue("Use_ATT").toBool());

    // Address and port are not persisted.
    MainWindow again;
    const PanelForm reopened(again);
    EXPECT_EQ(reopened.leIPaddress->text(), QString("192.168.16.200"));
    EXPECT_EQ(reopened.sbPort->value(), 50001);
    EXPECT_EQ(reopened.leSerial->text(), QString("typed"));
}

TEST_F(PanelTest, AnyTypedSerialComesBackAsTypedAndHandSetKeysSurvive)
{
    writeIni("[General]\nSampleRateID=0\nUse_LPF=true\nUse_ATT=false\n");
    const QString typed[] = {QString("@Variant(\\0\\0\\0\\x7f)"), QString("x, @DateTime(1)"),
                             QString("a;b=\"c\" 100%40"), QString::fromUtf8(" \xce\xa9\xe2\x82\xac RVD01 "),
                             QString("RVD010a1f00123")};
    for (const QString &text : typed) {
        SCOPED_TRACE(text.toStdString());
        {
            MainWindow w;
            PanelForm(w).leSerial->setText(text); // saved when the panel goes
        }
        MainWindow again;
        EXPECT_EQ(PanelForm(again).leSerial->text(), text);
        EXPECT_EQ(again.currentSampleRate(), 78125) << "the hand-set rate was lost";
        EXPECT_EQ(Settings::instance()->sampleRateHz(), 78125);
    }
}

TEST_F(PanelTest, ConnectedLocksTheConnectionFieldsAndAnnouncesTheSwitches)
{
    MainWindow w;
    const PanelForm ui(w);
    QStringList order;
    QObject::connect(&w, &MainWindow::changedLpf, [&](bool on) { order << QString("lpf %1").arg(on); });
    QObject::connect(&w, &MainWindow::changedAtt, [&](bool on) { order << QString("att %1").arg(on); });
    QWidget *locked[] = {ui.leIPaddress, ui.sbPort, ui.leSerial, ui.pbSearch};
    QWidget *alwaysOn[] = {ui.pbInfo, ui.chbUseLpf, ui.chbUseAtt, ui.pbHide};

    w.setConnected();
    EXPECT_EQ(order, QStringList({"lpf 1", "att 0"}));
    for (QWidget *wid : locked)
        EXPECT_FALSE(wid->isEnabled()) << wid->objectName().toStdString();
    for (QWidget *wid : alwaysOn)
        EXPECT_TRUE(wid->isEnabled()) << wid->objectName().toStdString();

    w.setDisconnected();
    for (QWidget *wid : locked)
        EXPECT_TRUE(wid->isEnabled()) << wid->objectName().toStdString();
    EXPECT_FALSE(ui.cbSampleRate->isEnabled());
}

TEST_F(PanelTest, ButtonsEmitAndHide)
{
    MainWindow w;
    QSignalSpy info(&w, &MainWindow::info);
    QSignalSpy search(&w, &MainWindow::search);
    const PanelForm ui(w);
    QTest::mouseClick(ui.pbInfo, Qt::LeftButton);
    QTest::mouseClick(ui.pbSearch, Qt::LeftButton);
    EXPECT_EQ(info.count(), 1);
    EXPECT_EQ(search.count(), 1);

    w.show();
    ASSERT_TRUE(w.isVisible());
    QTest::mouseClick(ui.pbHide, Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
}

} // namespace
