#pragma once

#include <QtGlobal>

class Control;
class MainWindow;

// The thread that owns the Qt application, the control panel and the command object.
namespace guithread {

// Starts the thread and waits (bounded) until the panel and Control exist. False if that failed.
bool start(qint32 loFrequency);

// Quits the event loop and waits at most timeoutMs for the thread to end; true if it ended.
bool stop(unsigned timeoutMs);

// True between a successful start() and the next stop().
bool isReady();

// The objects the thread built; null while it is not ready.
Control *control();
MainWindow *window();

} // namespace guithread
