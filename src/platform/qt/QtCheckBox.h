#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <functional>

class QCheckBox;
class QWidget;

namespace tavik::platform::qt {

// A check box on a tri-state QCheckBox: the program may set it greyed; a click toggles
// between unchecked and checked.
class QtCheckBox final : public CheckBox {
public:
    QtCheckBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QCheckBox* widget() const { return box_; }
    // Raised after a user's click has toggled the box, not when the program sets the value.
    void onClick(std::function<void()> handler);

    int value() const override;
    void setValue(int value) override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;
    void setFocus() override;

private:
    QCheckBox* box_;
    const QWidget* form_;
};

} // namespace tavik::platform::qt
