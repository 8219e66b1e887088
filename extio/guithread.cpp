#include "extio/guithread.h"

#include "control/control.h"
#include "extio/callbackholder.h"
#include "extio/exithook.h"
#include "extio/guiinvoke.h"
#include "platform/thread.h"
#include "ui/mainwindow.h"
#include "ui/settings.h"

#include <QAbstractEventDispatcher>
#include <QApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace guithread {
namespace {

constexpr int kPanelX = 100;
constexpr int kPanelY = 100;
// Building the application, the panel and the controller takes milliseconds; a host that gets no
// answer within this time would rather see OpenHW fail than hang.
constexpr auto kStartTimeout = std::chrono::seconds(20);
// A thread that was told to stop is done within a stop command's resends; far more than that means
// it is stuck, and a second application object must not be built beside it.
constexpr unsigned kCollectTimeoutMs = 10000;

// One call from another thread, run at most once in the GUI thread. Its caller may wait for it.
struct Call
{
    std::function<void()> body;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool ran = false;

    void finish(bool hasRun)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ran = hasRun;
        done = true;
        finished.notify_all();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [this] { return done; });
        return ran;
    }
};

// Calls made and not yet run, by number.
std::mutex g_callsMutex;
std::map<qulonglong, std::shared_ptr<Call>> g_calls;
qulonglong g_lastCall = 0;

std::shared_ptr<Call> takeCall(qulonglong id)
{
    std::lock_guard<std::mutex> lock(g_callsMutex);
    const auto found = g_calls.find(id);
    if (found == g_calls.end())
        return nullptr;
    std::shared_ptr<Call> call = std::move(found->second);
    g_calls.erase(found);
    return call;
}

// Calls that can no longer run (the thread is ending): their callers stop waiting.
void dropPendingCalls()
{
    std::map<qulonglong, std::shared_ptr<Call>> pending;
    {
        std::lock_guard<std::mutex> lock(g_callsMutex);
        pending.swap(g_calls);
    }
    for (auto &entry : pending)
        entry.second->finish(false);
}

} // namespace

// Carries calls into the GUI thread: Qt queues a call's number, the courier runs the call and then
// tells its caller. Unlike Qt's blocking invocation, the caller waits on the call itself, not inside
// Qt, so nothing has to be held while it waits, and a call that can no longer run is finished unrun.
class Courier : public QObject
{
    Q_OBJECT
public slots:
    void run(qulonglong id)
    {
        if (const std::shared_ptr<Call> call = takeCall(id)) {
            call->body();
            call->finish(true);
        }
    }
};

namespace {

// The objects as other threads see them. The lock is only ever held for moments, never across a
// wait, so taking it cannot deadlock with anything; the GUI thread withdraws the objects under it
// before deleting them.
std::mutex g_publishMutex;
QApplication *g_app = nullptr;
MainWindow *g_window = nullptr;
Control *g_control = nullptr;
Courier *g_courier = nullptr;
std::atomic<bool> g_ready{false};
std::atomic<int> g_panelRateHz{0};

thread_local bool t_guiThread = false;

// The thread's handle: touched only by start() and stop(), which callers keep apart.
platform::ThreadHandle g_thread = 0;
bool g_joined = true;

std::mutex g_startMutex;
std::condition_variable g_started;
bool g_startDone = false;
qint32 g_startFrequency = 0;

// QApplication keeps references to these for its whole life. Plain arrays, so nothing is torn down
// under an application that outlives the library's static objects.
int g_argc = 0;
char g_arg0[] = "";
char *g_argv[4] = {};
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
char g_platformFlag[] = "-platform";
char g_platforms[256] = {};
#endif

void chooseArguments()
{
    g_argc = 0;
    g_argv[g_argc++] = g_arg0;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Qt aborts the host when its platform cannot start: no display, or one that cannot be opened.
    // Given a list, Qt tries each in turn, so offscreen goes last: a panel nobody can see is the
    // better outcome. Passed as arguments, since setting the environment would race the host's own
    // reads of it.
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (platforms.isEmpty()) {
        if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            platforms = qgetenv("XDG_SESSION_TYPE") == "wayland" ? "wayland;xcb" : "xcb";
    }
    platforms += platforms.isEmpty() ? "offscreen" : ";offscreen";
    if (platforms.size() < int(sizeof g_platforms)) {
        qstrcpy(g_platforms, platforms.constData());
        g_argv[g_argc++] = g_platformFlag;
        g_argv[g_argc++] = g_platforms;
    }
#endif
    g_argv[g_argc] = nullptr;
}

// Application-wide settings of the Qt inside the plug-in, made before its application exists.
void chooseAttributes()
{
    // Qt's Windows platform otherwise declares the host process per-monitor DPI aware, which changes
    // how the host's own windows scale and leaves the host no declaration of its own. As a plug-in
    // it keeps whatever awareness the host has.
    QCoreApplication::setAttribute(Qt::AA_PluginApplication);
#ifdef Q_OS_WIN
    // In a host that is DPI aware the panel's fonts follow the system scale; its fixed sizes must
    // grow with them, by the scale itself (1.5 at 150 %, not rounded to 2), or text is clipped. In
    // a host that is not, Windows reports 96 DPI and enlarges the whole window itself.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}

void publish(QApplication *app, MainWindow *window, Control *control, Courier *courier)
{
    std::lock_guard<std::mutex> lock(g_publishMutex);
    g_app = app;
    g_window = window;
    g_control = control;
    g_courier = courier;
    g_panelRateHz = window->currentSampleRate();
    g_ready = true;
}

// From here on no other thread reaches the objects; the event loop is told to end.
void withdrawAndQuit()
{
    std::lock_guard<std::mutex> lock(g_publishMutex);
    guiinvoke::postToGuiThread(g_app, "quit");
    g_app = nullptr;
    g_window = nullptr;
    g_control = nullptr;
    g_courier = nullptr;
    g_panelRateHz = 0;
    g_ready = false;
}

void signalStarted()
{
    std::lock_guard<std::mutex> lock(g_startMutex);
    g_startDone = true;
    g_started.notify_all();
}

void body(void *)
{
    t_guiThread = true;
    chooseArguments();
    chooseAttributes();
    auto *app = new QApplication(g_argc, g_argv);
    app->setQuitOnLastWindowClosed(false);
    CallbackHolder::instance();
    Settings::instance();

    auto *window = new MainWindow(nullptr);
    window->setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->move(kPanelX, kPanelY);
    auto *control = new Control(window, nullptr);
    control->setFrequency(quint32(g_startFrequency));
    auto *courier = new Courier;
    // Whatever the thread has just done may have made Qt register the teardown of globals for the
    // process exit, to run before the exit hook: each time the thread goes idle the hook moves up.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, courier,
                     [] { exithook::rearm(); });
    publish(app, window, control, courier);
    signalStarted();

    app->exec();

    // Tear down in this thread, which owns the objects, so a later OpenHW can build them anew and
    // nothing of ours is left for the process exit to trip over once the library is unloaded.
    withdrawAndQuit();
    delete courier;     // calls still queued go with it...
    dropPendingCalls(); // ...and their callers stop waiting
    // A receiver left running is stopped, which also tells it so, rather than just abandoned.
    if (control->isOpen())
        control->close();
    // Whatever was left for deletion by a loop that quit ended (the information box).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete control;
    delete window;
    delete app;
    platform::endThread();
}

template <typename Object> bool runOn(Object *const &published, std::function<void(Object &)> fn, bool wait)
{
    auto call = std::make_shared<Call>();
    {
        std::lock_guard<std::mutex> lock(g_publishMutex);
        Object *object = published;
        if (!object || !g_courier)
            return false;
        call->body = [object, fn] { fn(*object); };
        qulonglong id = 0;
        {
            std::lock_guard<std::mutex> calls(g_callsMutex);
            id = ++g_lastCall;
            g_calls.emplace(id, call);
        }
        guiinvoke::postToGuiThread(g_courier, "run", Q_ARG(qulonglong, id));
    }
    return !wait || call->wait();
}

} // namespace

bool start(qint32 loFrequency)
{
    if (!g_joined) {
        // One application object at a time: a thread that is still ending goes first.
        g_joined = platform::waitThread(g_thread, kCollectTimeoutMs);
        if (!g_joined)
            return false;
    }
    {
        std::lock_guard<std::mutex> lock(g_startMutex);
        g_startDone = false;
        g_startFrequency = loFrequency;
    }
    // Qt is about to run in this process; on Windows its threads may outlive anything we can stop.
    platform::keepModuleLoaded();
    g_thread = platform::beginThread(body, nullptr);
    if (!g_thread)
        return false;
    g_joined = false;
    std::unique_lock<std::mutex> lock(g_startMutex);
    g_started.wait_for(lock, kStartTimeout, [] { return g_startDone; });
    return g_ready;
}

bool stop(unsigned timeoutMs)
{
    withdrawAndQuit();
    if (!g_joined)
        g_joined = platform::waitThread(g_thread, timeoutMs);
    return g_joined;
}

void requestStop()
{
    withdrawAndQuit();
}

bool isReady()
{
    return g_ready;
}

bool isGuiThread()
{
    return t_guiThread;
}

bool onControl(std::function<void(Control &)> fn, bool wait)
{
    return runOn(g_control, std::move(fn), wait);
}

bool onWindow(std::function<void(MainWindow &)> fn, bool wait)
{
    return runOn(g_window, std::move(fn), wait);
}

bool controlIsOpen()
{
    std::lock_guard<std::mutex> lock(g_publishMutex);
    return g_control && g_control->isOpen();
}

int panelSampleRate()
{
    return g_panelRateHz;
}

} // namespace guithread

#include "guithread.moc"
