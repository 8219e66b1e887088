// The exports as a host sees them, each case in a fresh process and working directory. Nothing here
// searches for a receiver, so nothing leaves the machine.
#include "tests/support/probe.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kIni = QStringLiteral("TarnixDDC_settings.ini");

void writeSampleRateId(const QTemporaryDir &dir, const QString &value)
{
    QFile f(dir.filePath(kIni));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[General]\nSampleRateID=" + value.toUtf8() + "\nUse_LPF=true\nUse_ATT=false\n");
}

void expectCleanExit(const ProbeRun &run)
{
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(run.crashed) << run.errors.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
}

} // namespace

TEST(Exports, IdentityLoAndStatusBeforeAnythingElse)
{
    QTemporaryDir dir;
    const ProbeRun run = runProbe(dir.path(), {"status", "init", "initnull", "lo", "setlo:3500000", "lo",
                                               "start:7000000", "close", "status"});
    expectCleanExit(run);
    EXPECT_EQ(run.result("status"), "0");
    EXPECT_EQ(run.result("init"), "1 Receiver TarnixDDC|TarnixDDC|6");
    EXPECT_EQ(run.result("initnull"), "1");
    EXPECT_EQ(run.result("lo"), "7200000");
    EXPECT_EQ(run.result("setlo:3500000"), "0");
    EXPECT_EQ(run.result("lo", 1), "3500000");
    // No GUI thread: nothing can open, and the host hears so instead of waiting for data.
    EXPECT_EQ(run.result("start:7000000"), "-1");
    EXPECT_LT(run.millis("close"), 100);
    EXPECT_EQ(run.result("status", 1), "0");
    // InitHW touches no state, and nothing created the settings file.
    EXPECT_FALSE(QFile::exists(dir.filePath(kIni)));
}

TEST(Exports, SampleRateFromTheSettingsFileWithoutAWindow)
{
    struct Case
    {
        const char *stored; // nullptr: no file at all
        const char *rate;
    };
    const Case cases[] = {{nullptr, "312500"}, {"0", "78125"},   {"1", "156250"},  {"2", "312500"},
                          {"7", "312500"},     {"-1", "312500"}, {"abc", "312500"}};
    for (const Case &c : cases) {
        QTemporaryDir dir;
        if (c.stored)
            writeSampleRateId(dir, QString::fromLatin1(c.stored));
        const ProbeRun run = runProbe(dir.path(), {"sr"});
        expectCleanExit(run);
        EXPECT_EQ(run.result("sr"), c.rate) << (c.stored ? c.stored : "no file");
        if (!c.stored) {
            // The first look creates the file with its defaults.
            QSettings s(dir.filePath(kIni), QSettings::IniFormat);
            EXPECT_EQ(s.value("SampleRateID").toInt(), 2);
            EXPECT_TRUE(s.value("Use_LPF").toBool());
            EXPECT_FALSE(s.value("Use_ATT").toBool());
            EXPECT_TRUE(s.contains("Serial"));
        }
    }
}

TEST(Exports, PanelLifecycleOpenShowHideCloseAndReopen)
{
    QTemporaryDir dir;
    writeSampleRateId(dir, "1");
    const ProbeRun run =
        runProbe(dir.path(), {"open", "sr", "show", "hide", "status", "close", "close", "show", "stop",
                              "setlo:5000000", "start:6000000", "open", "sr", "close", "unload"});
    expectCleanExit(run);
    EXPECT_EQ(run.result("open"), "1");
    EXPECT_EQ(run.result("sr"), "156250");
    // Closing waits a bounded time; the second close and the calls after it return at once.
    EXPECT_LT(run.millis("close"), 1000);
    EXPECT_LT(run.millis("close", 1), 100);
    EXPECT_LT(run.millis("show"), 5000);
    EXPECT_LT(run.millis("show", 1), 100);
    EXPECT_LT(run.millis("stop"), 100);
    EXPECT_EQ(run.result("start:6000000"), "-1");
    // A second OpenHW in the same load builds the panel anew.
    EXPECT_EQ(run.result("open", 1), "1");
    EXPECT_EQ(run.result("sr", 1), "156250");
    EXPECT_EQ(run.result("unload"), "0");
}

TEST(Exports, ProcessExitsCleanlyWhenTheHostNeverCloses)
{
    QTemporaryDir dir;
    const ProbeRun open = runProbe(dir.path(), {"open", "show"});
    expectCleanExit(open);
    const ProbeRun unload = runProbe(dir.path(), {"open", "unload"});
    expectCleanExit(unload);
    EXPECT_EQ(unload.result("unload"), "0");
}

TEST(Exports, ADisplayThatCannotBeOpenedFallsBackInsteadOfAborting)
{
    // No X server listens on display 4093 (nor on any display in the test's network namespace).
    for (const QString &display : {QStringLiteral("DISPLAY=:4093"), QStringLiteral("DISPLAY")}) {
        SCOPED_TRACE(display.toStdString());
        QTemporaryDir dir;
        const ProbeRun run =
            runProbe(dir.path(), {"open", "show", "sr", "hide", "close"}, 60000, {},
                     {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("WAYLAND_DISPLAY"), display});
        expectCleanExit(run);
        EXPECT_EQ(run.result("open"), "1");
        EXPECT_EQ(run.result("sr"), "312500");
    }
}
