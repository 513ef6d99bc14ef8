#include "../MousePointer.h"

#include "../RuntimeError.h"

#include <QCursor>
#include <QGuiApplication>

#include <optional>

namespace tavik::platform {

namespace {

int currentPointer = vbDefault;
bool overrideCursorSet = false;

std::optional<Qt::CursorShape> cursorFor(int pointer) {
    switch (pointer) {
    case 0:
        return std::nullopt;
    case 1:
        return Qt::ArrowCursor;
    case 2:
        return Qt::CrossCursor;
    case 3:
        return Qt::IBeamCursor;
    case 5:
        return Qt::SizeAllCursor;
    case 6:
        return Qt::SizeBDiagCursor;
    case 7:
        return Qt::SizeVerCursor;
    case 8:
        return Qt::SizeFDiagCursor;
    case 9:
        return Qt::SizeHorCursor;
    case 10:
        return Qt::UpArrowCursor;
    case vbHourglass:
        return Qt::WaitCursor;
    case 12:
        return Qt::ForbiddenCursor;
    case 13:
        return Qt::BusyCursor;
    case 14:
        return Qt::WhatsThisCursor;
    case 15:
        return Qt::SizeAllCursor;
    default:
        throw RuntimeError("Invalid property value");
    }
}

} // namespace

void setMousePointer(int pointer) {
    const std::optional<Qt::CursorShape> shape = cursorFor(pointer);
    currentPointer = pointer;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    // One override at most, so repeated busy calls never need repeated restores.
    if (!shape) {
        if (overrideCursorSet)
            QGuiApplication::restoreOverrideCursor();
        overrideCursorSet = false;
    } else if (overrideCursorSet) {
        QGuiApplication::changeOverrideCursor(QCursor(*shape));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(*shape));
        overrideCursorSet = true;
    }
}

int mousePointer() {
    return currentPointer;
}

} // namespace tavik::platform
