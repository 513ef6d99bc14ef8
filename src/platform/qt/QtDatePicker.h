#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <string>

class QDateEdit;
class QWidget;

namespace tavik::platform::qt {

// A date picker on a QDateEdit that shows its custom format and refuses dates outside
// 1753-01-01 to 9999-12-31.
class QtDatePicker final : public DatePicker {
public:
    QtDatePicker(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QDateEdit* widget() const { return edit_; }

    DateTime value() const override { return value_; }
    void setValue(const std::string& dateText) override;
    bool visible() const override;
    void setVisible(bool visible) override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;
    void setFocus() override;

private:
    QDateEdit* edit_;
    const QWidget* form_;
    DateTime value_;
    bool settingValue_ = false;
};

} // namespace tavik::platform::qt
