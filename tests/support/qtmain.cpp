// gtest's main inside a Qt application object, so tests can use sockets, timers and widgets.
#ifdef TARNIX_TEST_GUI
#include <QApplication>
using App = QApplication;
#else
#include <QCoreApplication>
using App = QCoreApplication;
#endif

#include <gtest/gtest.h>

#if defined(TARNIX_TEST_GUI) && defined(__SANITIZE_ADDRESS__)
// Qt's offscreen platform plug-in never frees its screen and cursor. Qt is built without frame
// pointers, so only the slow unwinder sees the plug-in on those allocation stacks. Built in rather
// than in scripts/lsan.supp because the build also runs the binary (to list its tests).
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
#ifdef TARNIX_TEST_GUI
    // The build lists the tests by running the binary outside ctest, without its environment;
    // a widget application needs a platform even then.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    App app(argc, argv);
    return RUN_ALL_TESTS();
}
