#pragma once

#include <QString>

class QWidget;

// Writes a PNG picture of the widget as it is drawn now, with a tooltip shown over it; returns
// why it could not, or an empty text.
QString writePicture(QWidget* widget, const QString& path);
