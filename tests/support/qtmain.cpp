// gtest's main inside a Qt application object, so tests can use sockets, timers and widgets.
#ifdef TARNIX_TEST_GUI
#include <QApplication>
using App = QApplication;
#else
#include <QCoreApplication>
using App = QCoreApplication;
#endif

#include <gtest/gtest.h>

#ifdef TARNIX_TEST_GUI
#include "platform/offscreenleakhooks.h"
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
