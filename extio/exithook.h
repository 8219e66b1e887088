#pragma once

// A function of the plug-in's own that must run when the process exits, before the teardown of the
// Qt (and host) globals its threads may still be using, and when the library is unloaded (Linux).
// Exit handlers run in reverse order of registration, and Qt registers the teardown of each global
// as it first uses it, so the hook's entry is moved to the top of the C library's list again and
// again (rearm): its old entry is removed, so this costs no memory unless others registered since.
// When the exit comes from the main thread the hook runs even earlier, before any exit handler.
// On Windows these do nothing: a DLL may not wait for threads while it is unloaded.
namespace exithook {

// Sets the function and registers it; on the main thread also to run first when that thread ends
// the process.
void arm(void (*hook)());
// Moves its entry to the top of the exit list, unless disarmed.
void rearm();
// No further moves: the hook has run, or is running.
void disarm();
// At unload: runs the hook now and removes its entry (entries are not under the library's own
// handle, so unloading would not run them).
void runForUnload();

} // namespace exithook
