#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

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

class Form;

// Shows a modal message box over the window holding `owner` and returns the button pressed
// (vbOK, vbYes or vbNo). When that window or the owner goes while the box is open, or the
// application quits, the box closes with the answer that changes nothing (No, or OK).
int MsgBox(const std::string& prompt, int style, const std::string& title, Form* owner = nullptr);

// Replaces the real message box, for recorders in tests and the scripted host; an empty
// handler puts the real box back.
using MessageBoxHandler =
    std::function<int(const std::string& prompt, int style, const std::string& title)>;
void setMessageBoxHandler(MessageBoxHandler handler);

// Takes every message box while it lives, instead of showing it: records it and answers OK
// to a box with an OK button, the queued answers in turn to a Yes/No box, and No when none
// is queued.
class MessageBoxRecorder {
public:
    struct Shown {
        std::string prompt;
        int style;
        std::string title;
        bool operator==(const Shown&) const = default;
    };

    MessageBoxRecorder() {
        setMessageBoxHandler(
            [this](const std::string& prompt, int style, const std::string& title) {
                shown.push_back({prompt, style, title});
                if ((style & 7) != vbYesNo)
                    return vbOK;
                if (answers.empty())
                    return vbNo;
                const int answer = answers.front();
                answers.pop_front();
                return answer;
            });
    }
    ~MessageBoxRecorder() { setMessageBoxHandler({}); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<Shown> shown; // in the order shown
    std::deque<int> answers;  // vbYes or vbNo, for the next Yes/No boxes
};

} // namespace tavik::platform
