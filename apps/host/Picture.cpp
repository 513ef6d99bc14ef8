#include "Picture.h"

#include <QApplication>
#include <QFile>
#include <QImageWriter>
#include <QWidget>

QString writePicture(QWidget* widget, const QString& path) {
    QApplication::processEvents();
    // The file is opened here, so that a failure names the system's reason.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, "PNG");
    if (!writer.write(widget->grab().toImage()))
        return writer.errorString();
    return {};
}
