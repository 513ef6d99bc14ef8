#pragma once

#include <functional>

// The event pump of the user-interface thread, which the waits for a transfer run.
namespace tavik::platform {

// Dispatches every pending event of the user-interface thread, then returns.
void DoEvents();
// Runs at the start of every DoEvents: the scripted host and tests act there, inside the
// handling of a completed transfer.
void setPumpHook(std::function<void()> hook);

// Dispatches events as they arrive until WakeWaiters is called or a short interval passes;
// it sleeps on the event queue, so a caller looping on a condition does not spin.
void WaitForEvents();
// Ends the WaitForEvents calls in progress: a transfer calls it when its state changes.
void WakeWaiters();
// Runs at the start of every WaitForEvents: the scripted host acts there during a wait.
void setWaitHook(std::function<void()> hook);

} // namespace tavik::platform
