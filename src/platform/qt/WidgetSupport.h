#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <QColor>
#include <QPalette>
#include <QString>
#include <Qt>

#include <functional>
#include <string>

class QWidget;

// What the widget adapters share: the conversions between the control's units, colours and
// key codes and Qt's, and the guard that runs the control's event handlers.
namespace tavik::platform::qt {

// The run-time errors a widget operation raises.
inline constexpr const char* kInvalidPropertyValue = "Invalid property value";
inline constexpr const char* kInvalidArrayIndex = "Invalid property array index";
inline constexpr const char* kIndexOutOfBounds = "Index out of bounds";

inline QString toQString(const std::string& text) {
    return QString::fromStdString(text);
}

// A text the control shows (marked with TAVIK_TR), in the user's language when an installed
// translator has it, or else the English text unchanged. The adapters keep the English text:
// the control's logic compares it, and a host's dump shows it.
QString translated(const std::string& text);

// A caption as Qt shows it: translated, and with "&" doubled, which would otherwise turn the
// next letter into a mnemonic.
QString shownCaption(const std::string& caption);

// The background a widget was laid out with: the usable window colour unless it says.
OleColor designBackColor(const WidgetPlacement& placement);

// round(twips * dpi / 1440): 15 twips a pixel at 96 dpi.
int twipsToPixels(double twips, int dpi);

// The colour an OLE colour value stands for: a system colour (high bit set), as the nearest
// role of `system` in `group`, or 0x00BBGGRR. Throws RuntimeError for a value that is neither.
QColor colorFromOle(OleColor color, const QPalette& system,
                    QPalette::ColorGroup group = QPalette::Active);

// Gives `widget` the input focus; throws RuntimeError when it is disabled, hidden within
// `form`, or takes no focus.
void focusOrThrow(QWidget* widget, const QWidget* form);

// Runs an event handler from a Qt slot. An exception must never reach Qt's event loop, so one
// that escapes the handler is shown in a critical message box instead.
void raiseEvent(const std::function<void()>& handler);

// Windows virtual key codes for the keys the list reports; 0 for other keys.
int virtualKeyCode(int key);
// The Shift argument of key events: 1 Shift, 2 Control, 4 Alt.
int shiftState(Qt::KeyboardModifiers modifiers);

} // namespace tavik::platform::qt
