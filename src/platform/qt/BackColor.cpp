#include "BackColor.h"

#include "WidgetSupport.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <utility>

namespace tavik::platform::qt {

BackColor::BackColor(QWidget* widget, std::vector<QPalette::ColorRole> roles, OleColor color,
                     Touch touch)
    : QObject(widget), widget_(widget), roles_(std::move(roles)), color_(color),
      touch_(std::move(touch)) {
    colorFromOle(color, QPalette()); // refuses an invalid value
    widget_->installEventFilter(this);
    refresh();
}

void BackColor::set(OleColor color) {
    colorFromOle(color, QPalette());
    color_ = color;
    refresh();
}

void BackColor::refresh() {
    if (painting_)
        return;
    painting_ = true;
    // Only the roles set here become the widget's own: every other role keeps following
    // the palette it inherits.
    const QWidget* parent = widget_->isWindow() ? nullptr : widget_->parentWidget();
    const QPalette inherited = parent ? parent->palette() : QApplication::palette(widget_);
    QPalette palette = inherited;
    palette.setResolveMask(0);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor color = colorFromOle(color_, inherited, group);
        for (const QPalette::ColorRole role : roles_)
            palette.setColor(group, role, color);
    }
    if (touch_)
        touch_(palette, inherited);
    widget_->setPalette(palette);
    painting_ = false;
}

bool BackColor::eventFilter(QObject* watched, QEvent* event) {
    // A palette change is also what setting the widget's own palette raises; painting_ keeps
    // that one from coming back here.
    if (watched == widget_ &&
        (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange))
        refresh();
    return QObject::eventFilter(watched, event);
}

} // namespace tavik::platform::qt
