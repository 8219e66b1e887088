#include "protocol/hostinterface.h"

#include "control/control.h"
#include "extio/callbackholder.h"
#include "extio/guiinvoke.h"
#include "extio/guithread.h"
#include "platform/tsanannotate.h"
#include "ui/mainwindow.h"
#include "ui/settings.h"

#include <QMetaObject>

#include <atomic>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace {

constexpr qint32 kDefaultLoHz = 7200000;
constexpr int kBlockPairs = 2048;
constexpr int kHardwareTypeInt32Iq = 6;
constexpr unsigned kCloseWaitMs = 500;
constexpr char kName[] = "Receiver TarnixDDC";
constexpr char kModel[] = "TarnixDDC";

std::atomic<qint32> g_loFrequency{kDefaultLoHz};

// Calls that use the GUI thread hold this shared; OpenHW and CloseHW hold it exclusively, so the
// thread never disappears under a call that is waiting for it.
std::shared_mutex &lifecycle()
{
    static std::shared_mutex mutex;
    return mutex;
}

bool controlIsOpen(Control *control)
{
    bool open = false;
    guiinvoke::invokeBlocking(control, "isOpen", Q_RETURN_ARG(bool, open));
    return open;
}

// Stops a running receiver and the GUI thread; true once the thread has ended.
bool shutDown(unsigned waitMs)
{
    Control *control = guithread::control();
    if (!control)
        return guithread::stop(waitMs);
    // A host that closes without stopping would leave the receiver's threads running in a library
    // it is about to unload.
    if (controlIsOpen(control))
        guiinvoke::invokeBlocking(control, "close");
    return guithread::stop(waitMs);
}

#ifndef _WIN32
// At unload (dlclose or process exit) nothing of ours may still run: stop the GUI thread if the host
// did not, then release the process-wide objects. Windows forbids waiting for threads while the
// loader unloads a DLL, so there CloseHW is the only place that stops it.
constexpr unsigned kUnloadWaitMs = 5000;

void stopAtUnload()
{
    if (shutDown(kUnloadWaitMs)) {
        Settings::destroyInstance();
        CallbackHolder::destroyInstance();
    }
}

struct UnloadGuard
{
    ~UnloadGuard() { stopAtUnload(); }
} g_unloadGuard;

// A host that exits without CloseHW: exit handlers run in reverse order of registration, and Qt
// registers the teardown of its own globals as the panel first builds and paints. Stopping the GUI
// thread must come before those, so the hook is registered again once they exist.
// Registered against this library (as its static destructors are), so unloading it runs and removes
// the hook instead of leaving the process a pointer into unmapped code.
extern "C" int __cxa_atexit(void (*func)(void *), void *arg, void *dso);
extern "C" void *__dso_handle;

void registerExitHook()
{
    __cxa_atexit([](void *) { stopAtUnload(); }, nullptr, &__dso_handle);
}
#else
void registerExitHook() {}
#endif

} // namespace

extern "C" {

bool EXTIO_CALL InitHW(char *name, char *model, int *type)
{
    if (name)
        std::memcpy(name, kName, sizeof kName);
    if (model)
        std::memcpy(model, kModel, sizeof kModel);
    if (type)
        *type = kHardwareTypeInt32Iq;
    return true;
}

bool EXTIO_CALL OpenHW()
{
    std::unique_lock<std::shared_mutex> lock(lifecycle());
    if (guithread::isReady())
        return true;
    const bool started = guithread::start(g_loFrequency);
    if (started)
        registerExitHook();
    return started;
}

int EXTIO_CALL StartHW(long freq)
{
    std::shared_lock<std::shared_mutex> lock(lifecycle());
    Control *control = guithread::control();
    if (!control)
        return -1;
    // The frequency goes through the GUI thread like every other call, so the controller is never
    // touched from two threads at once.
    guiinvoke::invokeBlocking(control, "setFrequency", Q_ARG(quint32, quint32(freq)));
    guiinvoke::invokeBlocking(control, "open");
    // A receiver that did not open delivers nothing; say so instead of leaving the host waiting.
    return controlIsOpen(control) ? kBlockPairs : -1;
}

void EXTIO_CALL StopHW()
{
    std::shared_lock<std::shared_mutex> lock(lifecycle());
    guiinvoke::invokeBlocking(guithread::control(), "close");
}

void EXTIO_CALL CloseHW()
{
    std::unique_lock<std::shared_mutex> lock(lifecycle());
    if (guithread::control())
        shutDown(kCloseWaitMs);
}

int EXTIO_CALL SetHWLO(long freq)
{
    g_loFrequency = qint32(freq);
    std::shared_lock<std::shared_mutex> lock(lifecycle());
    guiinvoke::invokeBlocking(guithread::control(), "setFrequency", Q_ARG(quint32, quint32(freq)));
    return 0;
}

long EXTIO_CALL GetHWLO()
{
    return g_loFrequency;
}

long EXTIO_CALL GetHWSR()
{
    std::shared_lock<std::shared_mutex> lock(lifecycle());
    if (MainWindow *window = guithread::window())
        return window->currentSampleRate();
    return Settings::instance()->sampleRateHz();
}

int EXTIO_CALL GetStatus()
{
    return 0;
}

void EXTIO_CALL SetCallback(HostCallback callback)
{
    CallbackHolder::instance()->set(callback);
}

void EXTIO_CALL ShowGUI()
{
    std::shared_lock<std::shared_mutex> lock(lifecycle());
    MainWindow *window = guithread::window();
    if (!window)
        return;
    guiinvoke::invokeBlocking(window, "show");
    guiinvoke::invokeBlocking(window, "setActiveWindow");
    // Showing builds Qt's painting globals; see registerExitHook().
    static std::atomic<bool> hookedAfterShow{false};
    if (!hookedAfterShow.exchange(true))
        registerExitHook();
}

void EXTIO_CALL HideGUI()
{
    std::shared_lock<std::shared_mutex> lock(lifecycle());
    guiinvoke::invokeBlocking(guithread::window(), "hide");
}

} // extern "C"
