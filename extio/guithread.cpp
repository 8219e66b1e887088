#include "extio/guithread.h"

#include "control/control.h"
#include "extio/callbackholder.h"
#include "extio/guiinvoke.h"
#include "platform/thread.h"
#include "ui/mainwindow.h"
#include "ui/settings.h"

#include <QApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace guithread {
namespace {

constexpr int kPanelX = 100;
constexpr int kPanelY = 100;
// Building the application, the panel and the controller takes milliseconds; a host that gets no
// answer within this time would rather see OpenHW fail than hang.
constexpr auto kStartTimeout = std::chrono::seconds(20);

std::atomic<Control *> g_control{nullptr};
std::atomic<MainWindow *> g_window{nullptr};
std::atomic<QApplication *> g_app{nullptr};
std::atomic<bool> g_ready{false};
std::atomic<bool> g_running{false};  // from start() until the thread body is done
platform::ThreadHandle g_thread = 0; // touched only under the exports' lifecycle lock
bool g_joined = true;

std::mutex g_startMutex;
std::condition_variable g_started;
bool g_startDone = false;
qint32 g_startFrequency = 0;

// QApplication keeps references to these for its whole life.
int g_argc = 0;
char g_arg0[] = "";
char *g_argv[] = {g_arg0, nullptr};

void useOffscreenWithoutDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Without a display the default platform plugin aborts the whole host process; a panel nobody
    // can see is the better outcome.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

void signalStarted()
{
    std::lock_guard<std::mutex> lock(g_startMutex);
    g_startDone = true;
    g_started.notify_all();
}

void body(void *)
{
    useOffscreenWithoutDisplay();
    auto *app = new QApplication(g_argc, g_argv);
    app->setQuitOnLastWindowClosed(false);
    g_app = app;
    CallbackHolder::instance();
    Settings::instance();

    auto *window = new MainWindow(nullptr);
    window->setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->move(kPanelX, kPanelY);
    auto *control = new Control(window, nullptr);
    control->setFrequency(quint32(g_startFrequency));
    g_window = window;
    g_control = control;
    g_ready = true;
    signalStarted();

    app->exec();

    // Tear down in this thread, which owns the objects, so a later OpenHW can build them anew and
    // nothing of ours is left for the process exit to trip over once the library is unloaded.
    g_ready = false;
    g_control = nullptr;
    g_window = nullptr;
    delete control;
    delete window;
    g_app = nullptr;
    delete app;
    g_running = false;
    platform::endThread();
}

} // namespace

bool start(qint32 loFrequency)
{
    if (g_running)
        return g_ready; // an earlier thread is still up (or still tearing down)
    if (!g_joined)      // collect the previous thread's resources
        g_joined = platform::waitThread(g_thread, 0);
    {
        std::lock_guard<std::mutex> lock(g_startMutex);
        g_startDone = false;
        g_startFrequency = loFrequency;
    }
    g_running = true;
    g_thread = platform::beginThread(body, nullptr);
    if (!g_thread) {
        g_running = false;
        return false;
    }
    g_joined = false;
    std::unique_lock<std::mutex> lock(g_startMutex);
    g_started.wait_for(lock, kStartTimeout, [] { return g_startDone; });
    return g_ready;
}

bool stop(unsigned timeoutMs)
{
    if (!g_running)
        return true;
    if (QApplication *app = g_app.load())
        guiinvoke::postToGuiThread(app, "quit");
    if (!g_joined)
        g_joined = platform::waitThread(g_thread, timeoutMs);
    // A thread that ended by itself before the wait leaves a closed handle on Windows; the flag
    // tells the truth either way.
    return g_joined || !g_running;
}

bool isReady()
{
    return g_ready;
}

Control *control()
{
    return g_control;
}

MainWindow *window()
{
    return g_window;
}

} // namespace guithread
