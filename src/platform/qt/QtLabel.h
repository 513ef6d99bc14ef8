#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <string>

class QLabel;
class QWidget;

namespace tavik::platform::qt {

// A label on a QLabel, plain text only.
class QtLabel final : public Label {
public:
    QtLabel(QWidget* parent, const WidgetPlacement& placement);
    QLabel* widget() const { return label_; }

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& caption) override;

private:
    QLabel* label_;
    std::string caption_;
};

} // namespace tavik::platform::qt
