#pragma once

#include <functional>
#include <string>

// Application-wide services: message boxes, the mouse pointer and the event pump.
namespace platform {

// Message box styles and answers, with the values of the platform's constants.
inline constexpr int vbOKOnly = 0;
inline constexpr int vbYesNo = 4;
inline constexpr int vbCritical = 16;
inline constexpr int vbQuestion = 32;
inline constexpr int vbExclamation = 48;
inline constexpr int vbInformation = 64;
inline constexpr int vbOK = 1;
inline constexpr int vbYes = 6;
inline constexpr int vbNo = 7;

// Shows a modal message box and returns the button pressed (vbOK, vbYes or vbNo).
int MsgBox(const std::string& prompt, int style, const std::string& title);

// Replaces the real message box, for recorders in tests and the scripted host; an empty
// handler puts the real box back.
using MessageBoxHandler =
    std::function<int(const std::string& prompt, int style, const std::string& title)>;
void setMessageBoxHandler(MessageBoxHandler handler);

// The application-wide mouse pointer: vbDefault or vbHourglass.
inline constexpr int vbDefault = 0;
inline constexpr int vbHourglass = 11;
void setMousePointer(int pointer);
int mousePointer();

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

} // namespace platform
