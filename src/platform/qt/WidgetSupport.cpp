#include "WidgetSupport.h"

#include "../EventPump.h"
#include "../MessageBox.h"
#include "../RuntimeError.h"
#include "../Translatable.h"

#include <QCoreApplication>
#include <QWidget>

#include <array>
#include <cmath>
#include <exception>
#include <optional>

namespace tavik::platform::qt {

QString translated(const std::string& text) {
    // kTextContext views a literal, so it ends in a null.
    return QCoreApplication::translate(kTextContext.data(), text.c_str());
}

QString shownCaption(const std::string& caption) {
    return translated(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

OleColor designBackColor(const WidgetPlacement& placement) {
    return placement.backColor.value_or(vbWindowBackground);
}

int twipsToPixels(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QColor colorFromOle(OleColor color, const QPalette& system, QPalette::ColorGroup group) {
    if (color & 0x80000000u) {
        // Windows system colours by index, as the nearest palette colour.
        static constexpr std::array<QPalette::ColorRole, 25> roles{
            QPalette::Mid,             // 0 scroll bar
            QPalette::Window,          // 1 desktop
            QPalette::Highlight,       // 2 active caption
            QPalette::Window,          // 3 inactive caption
            QPalette::Window,          // 4 menu
            QPalette::Base,            // 5 window background
            QPalette::Shadow,          // 6 window frame
            QPalette::WindowText,      // 7 menu text
            QPalette::Text,            // 8 window text
            QPalette::HighlightedText, // 9 caption text
            QPalette::Window,          // 10 active border
            QPalette::Window,          // 11 inactive border
            QPalette::Dark,            // 12 application workspace
            QPalette::Highlight,       // 13 highlight
            QPalette::HighlightedText, // 14 highlighted text
            QPalette::Button,          // 15 button face
            QPalette::Dark,            // 16 button shadow
            QPalette::PlaceholderText, // 17 grey text
            QPalette::ButtonText,      // 18 button text
            QPalette::WindowText,      // 19 inactive caption text
            QPalette::Light,           // 20 button highlight
            QPalette::Shadow,          // 21 3-D dark shadow
            QPalette::Midlight,        // 22 3-D light
            QPalette::ToolTipText,     // 23 tooltip text
            QPalette::ToolTipBase,     // 24 tooltip background
        };
        const OleColor index = color & 0x7FFFFFFFu;
        if (index >= roles.size())
            throw RuntimeError(kInvalidPropertyValue);
        return system.color(group, roles[index]);
    }
    if (color > 0x00FFFFFFu)
        throw RuntimeError(kInvalidPropertyValue);
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

void focusOrThrow(QWidget* widget, const QWidget* form) {
    if (!widget->isEnabled() || !widget->isVisibleTo(form) || widget->focusPolicy() == Qt::NoFocus)
        throw RuntimeError("Invalid procedure call");
    widget->setFocus(Qt::OtherFocusReason);
}

void raiseEvent(const std::function<void()>& handler) {
    if (!handler)
        return;
    std::optional<std::string> failure;
    try {
        const std::function<void()> run = handler; // the handler may destroy its holder
        run();
    } catch (const Abandoned&) {
        return; // the control was destroyed inside the handler
    } catch (const std::exception& error) {
        Trapped("an event handler", error);
        failure = error.what();
    } catch (...) {
        failure = "Unexpected error";
    }
    if (!failure)
        return;
    try {
        MsgBox(*failure, vbCritical, "Vendor Comments");
    } catch (...) {
        // Nothing is left to tell the user with; the event loop must go on regardless.
    }
}

int virtualKeyCode(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key; // same codes as their ASCII capitals and digits
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

int shiftState(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

} // namespace tavik::platform::qt
