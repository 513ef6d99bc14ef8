// How long the window stands still, as a host sees it: a 10 ms timer of the host's, and a
// page whose load answer takes three seconds. Prints the longest gap between the timer's
// ticks for the host's blocking LoadData (the way the reload after an added comment went
// before it fetched in the background), for New Comment and Save with that slow reload, and
// how long deleting the widget takes while its loadData waits for the slow page.

#include "platform/qt/QtForm.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <httplib.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

using namespace tavik;

namespace {

const char* const kDocument =
    "<?xml version=\"1.0\"?><VendorComments><LOC><Code>1</Code><Name>Dock</Name></LOC>"
    "<TYP><Code>2</Code><Name>General</Name></TYP></VendorComments>";

// Runs `action` inside the event loop with the host's timer ticking, and returns the longest
// gap between two ticks, in milliseconds.
long longestGap(const std::function<void()>& action) {
    QElapsedTimer clock;
    long longest = 0;
    qint64 last = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, long(now - last));
        last = now;
    });
    QEventLoop loop;
    QTimer::singleShot(50, [&] {
        action();
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
    });
    clock.start();
    ticker.start(10);
    loop.exec();
    return longest;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::atomic<bool> slow{false};
    httplib::Server page;
    page.Get("/VendorCommentLOAD.asp", [&](const httplib::Request&, httplib::Response& res) {
        if (slow)
            std::this_thread::sleep_for(std::chrono::seconds(3));
        res.set_content(kDocument, "text/xml");
    });
    page.Post("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("", "text/plain");
    });
    const int port = page.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { page.listen_after_bind(); });
    while (!page.is_running())
        std::this_thread::yield();
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

    auto* widget = new VendorCommentWidget;
    widget->show();
    VendorComment& control = controlOf(*widget);
    const auto click = [&](const char* name) {
        QTest::mouseClick(platform::qt::findWidget(control.form(), name), Qt::LeftButton);
    };
    const auto hostLoad = [&] { widget->LoadData(base, "318", "1", "", "", "3/23/2009"); };

    hostLoad();
    slow = true;
    const long blocking = longestGap(hostLoad);
    slow = false;
    hostLoad();
    click("cmdAdd");
    control.form().txtComment().setText("a comment");
    qobject_cast<QComboBox*>(platform::qt::findWidget(control.form(), "cboLocation"))
        ->setCurrentIndex(0);
    qobject_cast<QComboBox*>(platform::qt::findWidget(control.form(), "cboType"))
        ->setCurrentIndex(0);
    slow = true;
    const long save = longestGap([&] { click("cmdAdd"); });

    widget->loadData(QUrl(QString::fromStdString(base)), "318", VendorCommentWidget::ReadWrite, "",
                     "", QDate(2009, 3, 23));
    QTest::qWait(200); // the fetch is under way
    QElapsedTimer deleting;
    deleting.start();
    delete widget;
    const qint64 deleted = deleting.elapsed();

    std::printf("longest gap of a 10 ms host timer, the load answer taking 3 s:\n"
                "  blocking LoadData (the reload's old path):  %5ld ms\n"
                "  New Comment, Save and its reload:           %5ld ms\n"
                "deleting the widget while loadData waits:     %5lld ms\n",
                blocking, save, static_cast<long long>(deleted));
    page.stop();
    serving.join();
    return save < 50 ? 0 : 1;
}
