#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <functional>
#include <string>
#include <utility>

class QPushButton;
class QWidget;

namespace tavik::platform::qt {

// A command button on a QPushButton; the caption reads back exactly as the program set it.
class QtCommandButton final : public CommandButton {
public:
    QtCommandButton(QWidget* parent, const WidgetPlacement& placement);
    QPushButton* widget() const { return button_; }
    void onClick(std::function<void()> handler);
    // Runs after each new caption, which may need more room than the design gave.
    void onCaptionChanged(std::function<void()> handler) { captionChanged_ = std::move(handler); }

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& caption) override;
    bool enabled() const override;
    void setEnabled(bool enabled) override;

private:
    QPushButton* button_;
    std::string caption_;
    std::function<void()> captionChanged_;
};

} // namespace tavik::platform::qt
