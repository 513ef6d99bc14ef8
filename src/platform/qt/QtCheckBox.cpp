#include "QtCheckBox.h"

#include "WidgetSupport.h"

#include "../RuntimeError.h"

#include <QCheckBox>

#include <array>

namespace tavik::platform::qt {

namespace detail {

// A tri-state box the program can set to greyed, whose user clicks only toggle between
// unchecked and checked.
class TwoStateClickCheckBox final : public QCheckBox {
public:
    explicit TwoStateClickCheckBox(QWidget* parent) : QCheckBox(parent) { setTristate(true); }

protected:
    void nextCheckState() override {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

} // namespace detail

QtCheckBox::QtCheckBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement)
    : box_(new detail::TwoStateClickCheckBox(parent)), form_(form) {
    box_->setText(shownCaption(placement.caption));
}

void QtCheckBox::onClick(std::function<void()> handler) {
    QObject::connect(box_, &QCheckBox::clicked, box_,
                     [handler = std::move(handler)] { raiseEvent(handler); });
}

int QtCheckBox::value() const {
    switch (box_->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void QtCheckBox::setValue(int value) {
    static constexpr std::array<Qt::CheckState, 3> states{Qt::Unchecked, Qt::Checked,
                                                          Qt::PartiallyChecked};
    if (value < 0 || value > 2)
        throw RuntimeError(kInvalidPropertyValue);
    box_->setCheckState(states[static_cast<std::size_t>(value)]);
}

bool QtCheckBox::enabled() const {
    return box_->isEnabled();
}
void QtCheckBox::setEnabled(bool enabled) {
    box_->setEnabled(enabled);
}
void QtCheckBox::setFocus() {
    focusOrThrow(box_, form_);
}

} // namespace tavik::platform::qt
