#pragma once

#include <functional>
#include <string>

// Message boxes: the only way the control tells the user of a problem.
namespace tavik::platform {

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

} // namespace tavik::platform
