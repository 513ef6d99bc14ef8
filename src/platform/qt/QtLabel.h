#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <functional>
#include <string>
#include <utility>

class QLabel;
class QWidget;

namespace tavik::platform::qt {

// A label on a QLabel, plain text only.
class QtLabel final : public Label {
public:
    QtLabel(QWidget* parent, const WidgetPlacement& placement);
    QLabel* widget() const { return label_; }
    // Runs after each new caption, which may need more room than the design gave.
    void onCaptionChanged(std::function<void()> handler) { captionChanged_ = std::move(handler); }

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& caption) override;

private:
    QLabel* label_;
    std::string caption_;
    std::function<void()> captionChanged_;
};

} // namespace tavik::platform::qt
