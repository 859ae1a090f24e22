#pragma once
// Running work on the user-interface thread from other threads.
//
// A worker calls Synchronize(fn): fn is queued, the wake hook is called so that
// the user-interface thread notices, and the worker blocks until fn has run
// there. The user-interface thread runs queued work in CheckSynchronize(), which
// the application's event loop calls after every wake (tests without an event
// loop call it themselves). Work runs only when the user-interface thread gets
// to serve it; a thread that blocks without serving (ModemWait) holds it back.

#include <functional>

namespace vestrel::platform {

// Marks the calling thread as the user-interface thread. The thread that first
// calls CheckSynchronize() is taken as such when none was marked.
void SetUiThread();
bool IsUiThread();
// Marks the calling thread as the user-interface thread when none is marked
// yet (as CheckSynchronize() would); returns IsUiThread().
bool TakeUiThreadIfNone();

// Runs fn on the user-interface thread and waits until it has run; an exception
// thrown by fn is rethrown here. Called on the user-interface thread it runs fn
// at once.
void Synchronize(std::function<void()> fn);

// Queues fn for the user-interface thread and returns at once.
void Queue(std::function<void()> fn);

// On the user-interface thread: runs everything queued, in order. Returns true
// when anything ran.
bool CheckSynchronize();

// Called from any thread each time work is queued. The Qt glue posts an event
// whose handler calls CheckSynchronize(). Pass an empty function to remove it.
void SetWakeHook(std::function<void()> wake);

// On the user-interface thread: serves queued work until done() holds. Sleeps
// between wakes (no polling); whoever makes done() true must then call
// WakeSyncWaiters().
void ServeUntil(const std::function<bool()>& done);

// Wakes every ServeUntil() so that it looks at its condition again.
void WakeSyncWaiters();

}  // namespace vestrel::platform
