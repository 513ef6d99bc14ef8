#pragma once

#include "../Widgets.h"

#include <QObject>
#include <QPalette>

#include <functional>
#include <vector>

class QWidget;

namespace tavik::platform::qt {

// The BackColor of a widget: an OLE colour painted into some of the widget's palette roles.
// A system colour is looked up in the palette the widget inherits, group by group, and looked
// up again whenever that palette or the style changes, so a switch to a dark palette while the
// control is shown leaves no light field with light text. The value reads back as set.
// Owned by the widget.
class BackColor final : public QObject {
public:
    // A last touch on the palette before the widget takes it; `inherited` is the palette the
    // widget would have without its own colours.
    using Touch = std::function<void(QPalette& palette, const QPalette& inherited)>;

    BackColor(QWidget* widget, std::vector<QPalette::ColorRole> roles, OleColor color,
              Touch touch = {});

    OleColor value() const { return color_; }
    // Throws RuntimeError for a value that is no OLE colour, before anything changes.
    void set(OleColor color);
    // Paints the roles again, after a change the touch depends on.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* widget_;
    std::vector<QPalette::ColorRole> roles_;
    OleColor color_;
    Touch touch_;
    bool painting_ = false;
};

} // namespace tavik::platform::qt
