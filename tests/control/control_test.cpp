// Control with a real panel, no receiver: what it answers and shows without a connection.
#include "control/control.h"
#include "tests/support/forms.h"
#include "ui/mainwindow.h"
#include "ui/settings.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Each case in a fresh working directory, so the settings file never lands in the tree.
class ControlWithPanel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        Settings::destroyInstance();
    }
    void TearDown() override
    {
        Settings::destroyInstance();
        QDir::setCurrent(m_previous);
    }

    QTemporaryDir m_dir;
    QString m_previous;
};

} // namespace

TEST_F(ControlWithPanel, SampleRateIsFixedWhateverThePanelShows)
{
    QSettings(QStringLiteral("TarnixDDC_settings.ini"), QSettings::IniFormat).setValue("SampleRateID", 0);
    MainWindow window;
    Control control(&window);
    EXPECT_EQ(window.currentSampleRate(), 78125);
    EXPECT_EQ(control.sampleRate(), 312500u);
    EXPECT_FALSE(control.isOpen());
}

TEST_F(ControlWithPanel, InformationWhileClosedWarnsInsteadOfAsking)
{
    MainWindow window;
    Control control(&window);
    QString title, text, icon;
    int buttons = -1;
    bool parentIsPanel = false;
    // The warning is modal: read it and close it from inside its own event loop.
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        buttons = int(box->standardButtons());
        icon = box->icon() == QMessageBox::Warning ? QStringLiteral("warning") : QStringLiteral("other");
        parentIsPanel = box->parentWidget() == &window;
        box->accept();
    });
    PanelForm(window).pbInfo->click();
    EXPECT_EQ(title, QStringLiteral("TarnixDDC ExtIO"));
    EXPECT_EQ(text, QStringLiteral("TarnixDDC ExtIO not started!"));
    EXPECT_EQ(buttons, int(QMessageBox::Ok));
    EXPECT_EQ(icon, QStringLiteral("warning"));
    EXPECT_TRUE(parentIsPanel);
}

TEST_F(ControlWithPanel, CloseWhileClosedUnlocksThePanelAndStaysClosed)
{
    MainWindow window;
    Control control(&window);
    window.setConnected();
    ASSERT_FALSE(PanelForm(window).pbSearch->isEnabled());
    control.close();
    EXPECT_TRUE(PanelForm(window).pbSearch->isEnabled());
    EXPECT_TRUE(PanelForm(window).leSerial->isEnabled());
    EXPECT_FALSE(control.isOpen());
}
