#include "../EventPump.h"
#include "../TestHooks.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace tavik::platform {

namespace {

std::function<void()> waitHook;
std::function<void()> pumpHook;

// One WaitForEvents loop, and whether the wait itself ended it (a wake or its interval)
// rather than the application quitting.
struct Waiting {
    QEventLoop loop;
    bool woken = false;
    void wake() {
        woken = true;
        loop.quit();
    }
};
// The WaitForEvents loops running now, innermost last. Touched on the GUI thread only.
std::vector<Waiting*> waitingLoops;

// How long a WaitForEvents call sleeps at most when nothing wakes it.
int waitIntervalMs = 100;

void quitWaitingLoops() {
    for (Waiting* waiting : waitingLoops)
        waiting->wake();
}

// Qt does not quit when the last window closes inside a nested event loop, so a window
// closed during a wait would leave the application running without one: the waits end as
// for a quit, and the application quits once they are over.
void quitWhenTheLastWindowClosesInAWait() {
    static QPointer<QGuiApplication> watched;
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application || watched == application)
        return;
    watched = application;
    QObject::connect(application, &QGuiApplication::lastWindowClosed, application, [] {
        if (waitingLoops.empty() || !QGuiApplication::quitOnLastWindowClosed())
            return;
        for (Waiting* waiting : waitingLoops)
            waiting->loop.quit();
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    });
}

} // namespace

void DoEvents() {
    if (pumpHook) {
        const std::function<void()> hook = pumpHook; // it may replace itself
        hook();
    }
    if (!QCoreApplication::instance())
        return;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitForEvents() {
    if (waitHook) {
        const std::function<void()> hook = waitHook; // it may replace itself
        hook();
    }
    if (!QCoreApplication::instance()) {
        // Nothing can arrive without an event loop; still never let a caller spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(waitIntervalMs));
        return true;
    }
    // A local loop sleeps on the event queue until WakeWaiters or the interval ends it. Once
    // the application quits, every loop ends at once, and a new one would not run at all:
    // the caller must stop waiting, or the application's own loop would never return.
    quitWhenTheLastWindowClosesInAWait();
    Waiting waiting;
    QTimer::singleShot(waitIntervalMs, &waiting.loop, [&waiting] { waiting.wake(); });
    waitingLoops.push_back(&waiting);
    waiting.loop.exec();
    waitingLoops.pop_back();
    return waiting.woken;
}

void WakeWaiters() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread())
        quitWaitingLoops();
    else
        QMetaObject::invokeMethod(app, &quitWaitingLoops, Qt::QueuedConnection);
}

void setWaitIntervalForTesting(std::chrono::milliseconds interval) {
    waitIntervalMs = int(interval.count());
}

void setWaitHook(std::function<void()> hook) {
    waitHook = std::move(hook);
}

void setPumpHook(std::function<void()> hook) {
    pumpHook = std::move(hook);
}

} // namespace tavik::platform
