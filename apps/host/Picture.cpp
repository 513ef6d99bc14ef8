#include "Picture.h"

#include <QApplication>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QPixmap>
#include <QToolTip>
#include <QWidget>

namespace {

// The tooltip on the screen, if one is shown.
QWidget* shownTip() {
    if (!QToolTip::isVisible())
        return nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->inherits("QTipLabel"))
            return window;
    }
    return nullptr;
}

// The widget as drawn, with the tooltip shown over it (a window of its own) painted in.
QPixmap picture(QWidget* widget) {
    const QPixmap drawn = widget->grab();
    QWidget* tip = shownTip();
    if (!tip)
        return drawn;
    const QRect widgetArea(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    const QRect tipArea(tip->mapToGlobal(QPoint(0, 0)), tip->size());
    const QRect area = widgetArea.united(tipArea);
    QPixmap both(area.size() * drawn.devicePixelRatio());
    both.setDevicePixelRatio(drawn.devicePixelRatio());
    both.fill(Qt::transparent);
    QPainter painter(&both);
    painter.drawPixmap(widgetArea.topLeft() - area.topLeft(), drawn);
    painter.drawPixmap(tipArea.topLeft() - area.topLeft(), tip->grab());
    return both;
}

} // namespace

QString writePicture(QWidget* widget, const QString& path) {
    QApplication::processEvents();
    // The file is opened here, so that a failure names the system's reason.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, "PNG");
    if (!writer.write(picture(widget).toImage()))
        return writer.errorString();
    return {};
}
