#pragma once

#include <QtGlobal>

#include <functional>

class Control;
class MainWindow;

// The thread that owns the Qt application, the control panel and the command object. Other threads
// reach those objects only through the calls below.
namespace guithread {

// Starts the thread and waits (bounded) until the panel and Control exist; an earlier thread that is
// still ending is waited for (bounded) and collected first. False if either failed. Callers keep
// start() and stop() apart.
bool start(qint32 loFrequency);

// Withdraws the objects from other threads, quits the event loop and waits at most timeoutMs for the
// thread to end. True once it has ended and been collected.
bool stop(unsigned timeoutMs);

// stop() without the wait, for a thread that the GUI thread may itself be waiting for. The thread is
// collected by the next start() or stop().
void requestStop();

// True while the objects are available to other threads.
bool isReady();
// True on the GUI thread itself.
bool isGuiThread();

// Runs fn on the object in the GUI thread. With `wait`, returns once fn has run (true) or the object
// went away before it could (false); without, returns at once, so fn must not refer to the caller's
// stack. False at once while the object is not available. Calls run in the order they were made.
bool onControl(std::function<void(Control &)> fn, bool wait);
bool onWindow(std::function<void(MainWindow &)> fn, bool wait);

// Control's open flag, read without the GUI thread; false without a Control.
bool controlIsOpen();
// The panel's sample rate, fixed when it was built; 0 without a panel.
int panelSampleRate();

} // namespace guithread
