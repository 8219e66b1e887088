#include "protocol/hostinterface.h"

#include "control/control.h"
#include "extio/callbackholder.h"
#include "extio/exithook.h"
#include "extio/guithread.h"
#include "ui/mainwindow.h"
#include "ui/settings.h"

#include <atomic>
#include <cstring>
#include <mutex>

// Hosts call the exports from any thread, in any order, and also from inside the sample callback,
// which runs on the plug-in's delivery thread. Stopping a stream waits for that thread to return from
// the callback, so an export that waited for the GUI thread (or for a lock held across such a wait)
// could wait for itself. Hence: the exports a callback may use (SetHWLO, GetHWSR, GetHWLO, ShowGUI,
// HideGUI, SetCallback, GetStatus) never wait, on any thread; StartHW, StopHW, OpenHW and CloseHW
// wait for the GUI thread, except from inside the callback, where they only ask.

namespace {

constexpr qint32 kDefaultLoHz = 7200000;
constexpr int kBlockPairs = 2048;
constexpr int kHardwareTypeInt32Iq = 6;
constexpr unsigned kCloseWaitMs = 500;
constexpr char kName[] = "Receiver TarnixDDC";
constexpr char kModel[] = "TarnixDDC";

std::atomic<qint32> g_loFrequency{kDefaultLoHz};

// OpenHW, CloseHW and the exit hook start and stop the GUI thread, one at a time; each holds it for a
// bounded time. Nothing a callback calls takes it. Constant-initialised and trivially destructible,
// so usable in any exit order.
std::mutex g_lifecycle;

void closeReceiver(bool wait)
{
    guithread::onControl([](Control &control) { control.close(); }, wait);
}

// Stops a running receiver (telling it so) and the GUI thread; true once the thread has ended. A
// host that closes without stopping would otherwise leave the receiver streaming.
bool shutDown(unsigned waitMs)
{
    closeReceiver(true);
    return guithread::stop(waitMs);
}

#ifndef _WIN32
// At unload (dlclose) or process exit nothing of ours may still run. Windows forbids waiting for
// threads while the loader unloads a DLL, so there CloseHW is the only place that stops it (and the
// GUI thread keeps the DLL mapped until it has ended).
constexpr unsigned kUnloadWaitMs = 5000;

// The library's destructor functions run first when it is unloaded (and only after every exit
// handler when the process exits): the hook's entries are its own, not the library's, so they are
// run and removed here.
__attribute__((destructor)) void unloading()
{
    exithook::runForUnload();
}

void stopAtUnloadOrExit()
{
    exithook::disarm();
    // A thread of ours cannot wait for itself: a host that exits from inside its callback leaves the
    // rest to the system.
    if (CallbackHolder::insideCallback() || guithread::isGuiThread())
        return;
    std::lock_guard<std::mutex> lock(g_lifecycle);
    if (shutDown(kUnloadWaitMs)) {
        Settings::destroyInstance();
        CallbackHolder::destroyInstance();
    }
}
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
    // From inside the callback the thread is up (or being stopped): there is nothing to start.
    if (CallbackHolder::insideCallback())
        return guithread::isReady();
    std::lock_guard<std::mutex> lock(g_lifecycle);
    if (guithread::isReady())
        return true;
    const bool started = guithread::start(g_loFrequency);
#ifndef _WIN32
    if (started)
        exithook::arm(stopAtUnloadOrExit);
#endif
    return started;
}

int EXTIO_CALL StartHW(long freq)
{
    // The stream this callback belongs to is running; opening again would wait for the callback to
    // return. Tell how things stand instead.
    if (CallbackHolder::insideCallback())
        return guithread::controlIsOpen() ? kBlockPairs : -1;
    const quint32 hz = quint32(freq);
    bool open = false;
    guithread::onControl(
        [hz, &open](Control &control) {
            control.setFrequency(hz);
            control.open();
            open = control.isOpen();
        },
        true);
    // A receiver that did not open delivers nothing; say so instead of leaving the host waiting.
    return open ? kBlockPairs : -1;
}

void EXTIO_CALL StopHW()
{
    // Stopping waits for the callback to return, so from inside it the stop is queued, not awaited.
    closeReceiver(!CallbackHolder::insideCallback());
}

void EXTIO_CALL CloseHW()
{
    if (CallbackHolder::insideCallback()) {
        closeReceiver(false);
        guithread::requestStop();
        return;
    }
    std::lock_guard<std::mutex> lock(g_lifecycle);
    shutDown(kCloseWaitMs);
}

int EXTIO_CALL SetHWLO(long freq)
{
    g_loFrequency = qint32(freq);
    const quint32 hz = quint32(freq);
    guithread::onControl([hz](Control &control) { control.setFrequency(hz); }, false);
    return 0;
}

long EXTIO_CALL GetHWLO()
{
    return g_loFrequency;
}

long EXTIO_CALL GetHWSR()
{
    if (const int hz = guithread::panelSampleRate())
        return hz;
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
    guithread::onWindow(
        [](MainWindow &window) {
            window.show();
            window.setActiveWindow();
        },
        false);
}

void EXTIO_CALL HideGUI()
{
    guithread::onWindow([](MainWindow &window) { window.hide(); }, false);
}

} // extern "C"
