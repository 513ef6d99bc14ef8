#include "platform/EventPump.h"
#include "platform/MessageBox.h"
#include "platform/MousePointer.h"
#include "platform/RuntimeError.h"
#include "platform/TestHooks.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace tavik;

namespace {

using namespace std::chrono_literals;

struct BoxCase {
    int style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton pressed;
    int answer;
};

class MessageBoxTest : public ::testing::TestWithParam<BoxCase> {};

// The real box, answered by pressing one of its buttons as soon as it shows.
TEST_P(MessageBoxTest, ShowsTheStylesIconAndButtonsAndAnswersWithThePressedButton) {
    const BoxCase c = GetParam();
    QMessageBox* seen = nullptr;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!seen)
            return;
        EXPECT_EQ(seen->icon(), c.icon);
        EXPECT_EQ(seen->standardButtons(), c.buttons);
        EXPECT_EQ(seen->windowTitle(), "Vendor Comments");
        EXPECT_EQ(seen->text(), "Delete <b>it</b>?");
        EXPECT_EQ(seen->textFormat(), Qt::PlainText);
        seen->button(c.pressed)->click();
    });
    EXPECT_EQ(platform::MsgBox("Delete <b>it</b>?", c.style, "Vendor Comments"), c.answer);
    EXPECT_NE(seen, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxTest,
    ::testing::Values(
        BoxCase{36, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, 6},
        BoxCase{36, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, 7},
        BoxCase{48, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, 1},
        BoxCase{16, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, 1},
        BoxCase{64, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, 1}));

TEST(MessageBoxHandler, ReplacesTheBoxUntilCleared) {
    std::vector<std::string> seen;
    platform::setMessageBoxHandler(
        [&](const std::string& prompt, int style, const std::string& title) {
            seen.push_back(title + "|" + prompt + "|" + std::to_string(style));
            return platform::vbYes;
        });
    EXPECT_EQ(platform::MsgBox("Sure?", 36, "Vendor Comments"), platform::vbYes);
    platform::setMessageBoxHandler({});
    EXPECT_EQ(seen, std::vector<std::string>{"Vendor Comments|Sure?|36"});
}

TEST(MousePointer, BusyIsOneOverrideHoweverOftenItIsSet) {
    platform::setMousePointer(platform::vbHourglass);
    platform::setMousePointer(platform::vbHourglass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(platform::mousePointer(), platform::vbHourglass);
    platform::setMousePointer(platform::vbDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
    EXPECT_THROW(platform::setMousePointer(42), platform::RuntimeError);
}

// Bounds are loose: they tell a wake from the interval running out, not measure speed.
qint64 millisecondsOf(const std::function<void()>& action) {
    QElapsedTimer timer;
    timer.start();
    action();
    return timer.elapsed();
}

TEST(EventPump, WaitForEventsSleepsAboutOneIntervalWithoutAWake) {
    int hookRuns = 0;
    platform::setWaitHook([&] { ++hookRuns; });
    const qint64 elapsed = millisecondsOf(platform::WaitForEvents);
    platform::setWaitHook({});
    EXPECT_EQ(hookRuns, 1);
    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 2000);
}

TEST(EventPump, WakeWaitersEndsEveryWaitInProgressEvenFromAnotherThread) {
    // The waits would sleep a minute unless woken; the guard ends a failed test sooner.
    platform::setWaitIntervalForTesting(60s);
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        guardFired = true;
        platform::WakeWaiters();
    });
    guard.start(10s);
    platform::WakeWaiters(); // harmless with nobody waiting
    int waits = 0;
    std::thread waker;
    platform::setWaitHook([&] {
        // The second wait is nested in the first; the other thread wakes both at once.
        if (++waits == 1)
            QTimer::singleShot(0, [] { platform::WaitForEvents(); });
        else
            waker = std::thread(platform::WakeWaiters);
    });
    platform::WaitForEvents();
    platform::setWaitHook({});
    platform::setWaitIntervalForTesting(100ms);
    waker.join();
    EXPECT_EQ(waits, 2);
    EXPECT_FALSE(guardFired);
}

} // namespace

namespace {
std::vector<std::string> logged;
void recordMessage(QtMsgType, const QMessageLogContext& context, const QString& message) {
    logged.push_back(std::string(context.category) + ": " + message.toStdString());
}
} // namespace

// A trap ends a handler quietly on the control's own run-time errors; anything else is a
// programming error that must be seen, so it goes to the log of the handler's part.
TEST(Traps, LogWhatIsNotTheControlsOwnRunTimeError) {
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(&recordMessage);
    platform::Trapped("LoadData", platform::RuntimeError("Type mismatch"));
    platform::Trapped("cmdEdit_Click", std::out_of_range("vector::at"));
    platform::Trapped("LoadData", std::length_error("basic_string"));
    platform::Trapped("Inet1_StateChanged", std::bad_alloc());
    qInstallMessageHandler(previous);
    const std::vector<std::string> expected{
        "tavik.vendorcomment.widget: cmdEdit_Click ended on an unexpected error: vector::at",
        "tavik.vendorcomment.load: LoadData ended on an unexpected error: basic_string",
        "tavik.vendorcomment.statement: Inet1_StateChanged ended on an unexpected error: "
        "std::bad_alloc"};
    EXPECT_EQ(logged, expected);
}
