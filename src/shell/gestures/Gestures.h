#pragma once

#include <QChar>
#include <QDate>
#include <QString>
#include <Qt>

#include <string>

namespace tavik::platform {
class Form;
}

// A user's actions on the control's widgets, as the scripted host plays them and the
// control's tests make them. They arrive as plain Qt mouse and key events, and a press moves
// the focus as the window system's press does. What a user cannot do does nothing: a hidden
// widget cannot be clicked, a disabled one ignores its input, a locked text or combo box keeps
// its value. A row, entry or column that does not exist throws std::out_of_range.
namespace tavik::gestures {

// Widgets go by the control's names ("cmdAdd", "chkDate(0)", ...).
void click(platform::Form& form, const std::string& name);
// Row -1: the selection cleared (a control-click on the selected row).
void selectRow(platform::Form& form, int row, bool doubleClick = false);
// A key on lstComments, which takes the focus first; a letter key types its small letter.
void pressKey(platform::Form& form, Qt::Key key);
void pressKey(platform::Form& form, QChar letter);
void clickColumn(platform::Form& form, int column);
// Typed into txtComment at the end, one character at a time; "\r" is the Enter key.
void type(platform::Form& form, const QString& text);
// Pasted at the end of txtComment, past the key filter.
void paste(platform::Form& form, const QString& text);
void pick(platform::Form& form, const std::string& combo, int index);
void setDate(platform::Form& form, const std::string& picker, QDate date);

} // namespace tavik::gestures
