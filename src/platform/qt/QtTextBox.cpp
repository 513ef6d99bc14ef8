#include "QtTextBox.h"

#include "BackColor.h"
#include "CommentEdit.h"
#include "WidgetSupport.h"

namespace tavik::platform::qt {

QtTextBox::QtTextBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : edit_(new detail::CommentEdit(parent)), form_(form),
      backColor_(new BackColor(edit_, {QPalette::Base}, designBackColor(placement))) {
    edit_->setValue(placement.caption);
    // A box laid out with the read-only colour starts read-only.
    setLocked(backColor_->value() == vbButtonFace);
}

QWidget* QtTextBox::widget() const {
    return edit_;
}
void QtTextBox::onKeyPress(std::function<void(int&)> handler) {
    edit_->keyPress = std::move(handler);
}
std::string QtTextBox::text() const {
    return edit_->value();
}
void QtTextBox::setText(const std::string& text) {
    edit_->setValue(text);
}
bool QtTextBox::locked() const {
    return edit_->isReadOnly();
}
void QtTextBox::setLocked(bool locked) {
    edit_->setLocked(locked);
}

OleColor QtTextBox::backColor() const {
    return backColor_->value();
}
void QtTextBox::setBackColor(OleColor color) {
    backColor_->set(color);
}

void QtTextBox::setFocus() {
    focusOrThrow(edit_, form_);
}

} // namespace tavik::platform::qt
