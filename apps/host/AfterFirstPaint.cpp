#include "AfterFirstPaint.h"

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace {

class FirstPaintWatcher final : public QObject {
public:
    FirstPaintWatcher(QWidget* window, std::function<void()> action)
        : QObject(window), action_(std::move(action)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // The window's paint ends (and reaches the screen) before the event loop comes
            // back to the timer.
            QTimer::singleShot(0, parent(), std::move(action_));
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> action_;
};

} // namespace

void afterFirstPaint(QWidget* window, std::function<void()> action) {
    new FirstPaintWatcher(window, std::move(action));
}
