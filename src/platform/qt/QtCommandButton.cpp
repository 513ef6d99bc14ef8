#include "QtCommandButton.h"

#include "WidgetSupport.h"

#include <QPushButton>

namespace tavik::platform::qt {

QtCommandButton::QtCommandButton(QWidget* parent, const WidgetPlacement& placement)
    : button_(new QPushButton(parent)) {
    // Enter and Return click the button while it has the focus, as Space does.
    button_->setAutoDefault(true);
    setCaption(placement.caption);
}

void QtCommandButton::onClick(std::function<void()> handler) {
    QObject::connect(button_, &QPushButton::clicked, button_,
                     [handler = std::move(handler)] { raiseEvent(handler); });
}

void QtCommandButton::setCaption(const std::string& caption) {
    caption_ = caption;
    button_->setText(shownCaption(caption));
    if (captionChanged_)
        captionChanged_();
}

bool QtCommandButton::enabled() const {
    return button_->isEnabled();
}
void QtCommandButton::setEnabled(bool enabled) {
    button_->setEnabled(enabled);
}

} // namespace tavik::platform::qt
