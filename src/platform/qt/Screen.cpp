#include "../Screen.h"

#include "../RuntimeError.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

MessageBoxHandler messageBoxHandler;
int currentPointer = vbDefault;
bool overrideCursorSet = false;
std::function<void()> waitHook;
std::function<void()> pumpHook;
// The WaitForEvents loops running now, innermost last. Touched on the GUI thread only.
std::vector<QEventLoop*> waitingLoops;

// How long a WaitForEvents call sleeps at most when nothing wakes it.
constexpr int kWaitIntervalMs = 100;

bool haveWidgetApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

QMessageBox::Icon iconFor(int style) {
    switch (style & 0x70) {
    case vbCritical:
        return QMessageBox::Critical;
    case vbQuestion:
        return QMessageBox::Question;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

struct ButtonSet {
    std::vector<std::pair<QMessageBox::StandardButton, int>> buttons; // with their answers
};

ButtonSet buttonsFor(int style) {
    using B = QMessageBox;
    switch (style & 7) {
    case 1:
        return {{{B::Ok, vbOK}, {B::Cancel, 2}}};
    case 2:
        return {{{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}}};
    case 3:
        return {{{B::Yes, vbYes}, {B::No, vbNo}, {B::Cancel, 2}}};
    case vbYesNo:
        return {{{B::Yes, vbYes}, {B::No, vbNo}}};
    case 5:
        return {{{B::Retry, 4}, {B::Cancel, 2}}};
    default:
        return {{{B::Ok, vbOK}}};
    }
}

// The answer a box gives when it cannot be shown: the one that changes nothing.
int safeAnswer(const ButtonSet& set) {
    for (const auto& [button, answer] : set.buttons) {
        if (button == QMessageBox::No || button == QMessageBox::Cancel)
            return answer;
    }
    return set.buttons.front().second;
}

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

void quitWaitingLoops() {
    for (QEventLoop* loop : waitingLoops)
        loop->quit();
}

} // namespace

int MsgBox(const std::string& prompt, int style, const std::string& title) {
    if (messageBoxHandler) {
        const MessageBoxHandler handler = messageBoxHandler; // it may replace itself
        return handler(prompt, style, title);
    }
    const ButtonSet set = buttonsFor(style);
    if (!haveWidgetApplication()) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), prompt.c_str());
        return safeAnswer(set);
    }

    QMessageBox box(iconFor(style), QString::fromStdString(title), QString::fromStdString(prompt),
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    std::vector<std::pair<QAbstractButton*, int>> answers;
    for (const auto& [button, answer] : set.buttons)
        answers.emplace_back(box.addButton(button), answer);
    const std::size_t defaultButton = static_cast<std::size_t>((style >> 8) & 3);
    if (defaultButton < answers.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(answers[defaultButton].first));
    box.exec();
    for (const auto& [button, answer] : answers) {
        if (box.clickedButton() == button)
            return answer;
    }
    return safeAnswer(set);
}

void setMessageBoxHandler(MessageBoxHandler handler) {
    messageBoxHandler = std::move(handler);
}

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
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitIntervalMs));
        return;
    }
    // A local loop sleeps on the event queue until WakeWaiters or the interval ends it.
    QEventLoop loop;
    QTimer::singleShot(kWaitIntervalMs, &loop, &QEventLoop::quit);
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

void setWaitHook(std::function<void()> hook) {
    waitHook = std::move(hook);
}

void setPumpHook(std::function<void()> hook) {
    pumpHook = std::move(hook);
}

} // namespace platform
