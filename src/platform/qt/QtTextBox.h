#pragma once

#include "../Form.h"
#include "../Widgets.h"

#include <functional>
#include <string>

class QWidget;

namespace tavik::platform::qt {

class BackColor;
namespace detail {
class CommentEdit;
}

// The comment box on a multi-line plain-text editor whose typed characters pass through
// the KeyPress handler and which keeps the program's text exactly until the user edits it.
class QtTextBox final : public TextBox {
public:
    QtTextBox(QWidget* parent, const QWidget* form, const WidgetPlacement& placement);
    QWidget* widget() const;
    // KeyAscii of each typed character; 0 on return discards it.
    void onKeyPress(std::function<void(int& KeyAscii)> handler);

    std::string text() const override;
    void setText(const std::string& text) override;
    bool locked() const override;
    void setLocked(bool locked) override;
    OleColor backColor() const override;
    void setBackColor(OleColor color) override;
    void setFocus() override;

private:
    detail::CommentEdit* edit_;
    const QWidget* form_;
    BackColor* backColor_;
};

} // namespace tavik::platform::qt
