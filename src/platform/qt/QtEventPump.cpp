#include "../EventPump.h"
#include "../TestHooks.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
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
// The WaitForEvents loops running now, innermost last. Touched on the GUI thread only.
std::vector<QEventLoop*> waitingLoops;

// How long a WaitForEvents call sleeps at most when nothing wakes it.
int waitIntervalMs = 100;

void quitWaitingLoops() {
    for (QEventLoop* loop : waitingLoops)
        loop->quit();
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

void WaitForEvents() {
    if (waitHook) {
        const std::function<void()> hook = waitHook; // it may replace itself
        hook();
    }
    if (!QCoreApplication::instance()) {
        // Nothing can arrive without an event loop; still never let a caller spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(waitIntervalMs));
        return;
    }
    // A local loop sleeps on the event queue until WakeWaiters or the interval ends it.
    QEventLoop loop;
    QTimer::singleShot(waitIntervalMs, &loop, &QEventLoop::quit);
    waitingLoops.push_back(&loop);
    loop.exec();
    waitingLoops.pop_back();
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
