// What a user meets when keys, clicks and answers come in any order: the editor belongs to
// the selected row, one click sends one statement, and no answer takes the host down.

#include "ControlFixture.h"
#include "ParamName.h"

#include "platform/EventPump.h"
#include "platform/MessageBox.h"
#include "platform/MousePointer.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

using tavik::test::PrintTo;

using namespace tavik;
using namespace std::chrono_literals;

namespace {

using tavik::test::PrintTo;

// Runs `action` at every event pump while the control handles a completed transfer: the
// transfer is over, its answer is being read, its end is not yet handled.
class WhileCompleting {
public:
    WhileCompleting(VendorComment& control, std::function<void()> action) {
        platform::setPumpHook([&control, action = std::move(action)] {
            if (control.statementInFlight() && !control.form().Inet1().StillExecuting())
                action();
        });
    }
    ~WhileCompleting() { platform::setPumpHook({}); }
};

struct KeyMove {
    const char* name;
    int startRow;
    Qt::Key key;
    int expectedRow;
};

class KeyMoveTest : public ControlTest, public ::testing::WithParamInterface<KeyMove> {};

} // namespace

// Every key that moves the selection refills the editor on its release, so that Edit and
// Delete act on the row the list shows.
TEST_P(KeyMoveTest, EditorAndKeyFollowTheSelection) {
    load("1");
    selectRow(GetParam().startRow);
    keyOnList(GetParam().key);
    const platform::ListView& list = form().lstComments();
    ASSERT_EQ(list.selectedIndex(), GetParam().expectedRow);
    EXPECT_EQ(form().txtComment().text(), list.itemText(GetParam().expectedRow));
    EXPECT_EQ(control->state().mstrSequence, list.subItem(GetParam().expectedRow, 5));
    EXPECT_TRUE(form().cmdDelete().enabled());
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyMoveTest,
                         ::testing::Values(KeyMove{"down", 0, Qt::Key_Down, 1},
                                           KeyMove{"upOnTheFirstRow", 0, Qt::Key_Up, 0},
                                           KeyMove{"pageDown", 0, Qt::Key_PageDown, 2},
                                           KeyMove{"end", 0, Qt::Key_End, 2},
                                           KeyMove{"home", 2, Qt::Key_Home, 0},
                                           KeyMove{"pageUp", 2, Qt::Key_PageUp, 0},
                                           KeyMove{"typeAhead", 0, Qt::Key_P, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// While adding, only a key that moved the selection runs the fill (which resets the pickers,
// as a click in the list does); a key that moved nothing leaves the user's date alone.
TEST_F(ControlTest, WhileAddingOnlyKeysThatMoveTheSelectionResetThePickers) {
    load("1");
    selectRow(0);
    click("cmdAdd");
    click("chkDate(0)"); // shows the picker
    setDate(0, 2010, 5, 6);
    keyOnList(Qt::Key_Z); // no row starts with it
    EXPECT_EQ(platform::isoDate(form().DateBox(0).value()), "2010-05-06");
    keyOnList(Qt::Key_End);
    EXPECT_EQ(platform::isoDate(form().DateBox(0).value()), "2009-03-23");
    EXPECT_EQ(control->state().mstrAction, "Add");
}

struct MouseSelect {
    const char* name;
    Qt::MouseButton button;
    Qt::KeyboardModifiers modifiers;
    bool drag; // pressed on row 0, released on row 2
};

class MouseSelectTest : public ControlTest, public ::testing::WithParamInterface<MouseSelect> {};

// Whatever button or modifier moved the selection, the editor, the key and Delete follow
// it: a right click once left row 0's key in place, and Delete removed the wrong comment.
TEST_P(MouseSelectTest, DeleteRemovesTheRowShown) {
    load("1");
    selectRow(0);
    auto* view = qobject_cast<QTreeView*>(widget("lstComments"));
    const auto rowCenter = [&](int row) {
        return view->visualRect(view->model()->index(row, 0)).center();
    };
    const auto& [name, button, modifiers, drag] = GetParam();
    // A host menu behind the list must not open either.
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    QAction hostAction("Host action");
    window->addAction(&hostAction);
    bool menuShown = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
    });
    closer.start(5);
    if (drag) {
        QTest::mousePress(view->viewport(), button, modifiers, rowCenter(0));
        QTest::mouseMove(view->viewport(), rowCenter(1));
        QTest::mouseMove(view->viewport(), rowCenter(2));
        QTest::mouseRelease(view->viewport(), button, modifiers, rowCenter(2));
    } else {
        QTest::mouseClick(view->viewport(), button, modifiers, rowCenter(2));
    }
    EXPECT_FALSE(menuShown);
    ASSERT_EQ(form().lstComments().selectedIndex(), 2);
    EXPECT_EQ(form().txtComment().text(), "Prices fixed");
    EXPECT_EQ(control->state().mstrSequence, "3");

    answers.push_back(platform::vbYes);
    setStatementAnswer("");
    click("cmdDelete");
    ASSERT_EQ(statements().size(), 1u);
    EXPECT_EQ(statements()[0], "DELETE FROM VendorComment Where vendorID = 318 And "
                               "CommentSequence = 3");
    EXPECT_EQ(form().lstComments().count(), 2);
    EXPECT_EQ(form().lstComments().itemText(0), "Call first");
}

INSTANTIATE_TEST_SUITE_P(
    Gestures, MouseSelectTest,
    ::testing::Values(MouseSelect{"right", Qt::RightButton, {}, false},
                      MouseSelect{"middle", Qt::MiddleButton, {}, false},
                      MouseSelect{"shiftLeft", Qt::LeftButton, Qt::ShiftModifier, false},
                      MouseSelect{"controlLeft", Qt::LeftButton, Qt::ControlModifier, false},
                      MouseSelect{"controlRight", Qt::RightButton, Qt::ControlModifier, false},
                      MouseSelect{"leftDrag", Qt::LeftButton, {}, true},
                      MouseSelect{"rightDrag", Qt::RightButton, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ForeignSelect {
    const char* name;
    int row; // the row the selection moves to from row 0
    std::function<void(QTreeView*, int row)> select;
};

class ForeignSelectTest : public ControlTest,
                          public ::testing::WithParamInterface<ForeignSelect> {};

void typeWithoutKeyCode(QTreeView* view, const QString& text) {
    view->setFocus();
    QTest::sendKeyEvent(QTest::Click, view, Qt::Key_unknown, text, Qt::NoModifier);
}

// Keys without a key code of their own and an assistive technology's selection move the
// selection too: Delete once removed row 0 after such a move, while the list showed another.
TEST_P(ForeignSelectTest, DeleteRemovesTheRowSelected) {
    const std::vector<std::string> texts{"Call first",
                                         "-dash",
                                         "[bracket",
                                         ".dot",
                                         "\xC3\xA9lan",
                                         "\xC3\xBC"
                                         "ber"};
    LoadDocument document;
    document.loc("12", "Dock 1").typ("4", "General");
    for (std::size_t i = 0; i < texts.size(); ++i)
        document.grid(std::to_string(i + 1), "General", "Dock 1", "", "", texts[i]);
    setDocument(document.str());
    load("1");
    selectRow(0);
    auto* view = qobject_cast<QTreeView*>(widget("lstComments"));
    const int row = GetParam().row;
    GetParam().select(view, row);
    ASSERT_EQ(form().lstComments().selectedIndex(), row);
    EXPECT_EQ(form().txtComment().text(), texts[std::size_t(row)]);
    EXPECT_EQ(control->state().mstrSequence, std::to_string(row + 1));

    answers.push_back(platform::vbYes);
    click("cmdDelete");
    ASSERT_EQ(statements().size(), 1u);
    EXPECT_TRUE(statements()[0].ends_with("CommentSequence = " + std::to_string(row + 1)));
    ASSERT_EQ(form().lstComments().count(), int(texts.size()) - 1);
    EXPECT_EQ(form().lstComments().itemText(0), "Call first");
}

INSTANTIATE_TEST_SUITE_P(
    Causes, ForeignSelectTest,
    ::testing::Values(
        ForeignSelect{"dash", 1, [](QTreeView* v, int) { typeWithoutKeyCode(v, "-"); }},
        ForeignSelect{"bracket", 2, [](QTreeView* v, int) { typeWithoutKeyCode(v, "["); }},
        ForeignSelect{"dot", 3, [](QTreeView* v, int) { typeWithoutKeyCode(v, "."); }},
        ForeignSelect{
            "eAcute", 4,
            [](QTreeView* v, int) { typeWithoutKeyCode(v, QString::fromUtf8("\xC3\xA9")); }},
        ForeignSelect{
            "uUmlaut", 5,
            [](QTreeView* v, int) { typeWithoutKeyCode(v, QString::fromUtf8("\xC3\xBC")); }},
        ForeignSelect{"accessibleSelectRow", 3,
                      [](QTreeView* v, int row) {
                          QAccessibleInterface* list = QAccessible::queryAccessibleInterface(v);
                          ASSERT_TRUE(list && list->tableInterface());
                          EXPECT_TRUE(list->tableInterface()->selectRow(row));
                      }},
        ForeignSelect{"accessibleToggleCell", 2,
                      [](QTreeView* v, int row) {
                          QAccessibleInterface* list = QAccessible::queryAccessibleInterface(v);
                          ASSERT_TRUE(list && list->tableInterface());
                          QAccessibleInterface* cell = list->tableInterface()->cellAt(row, 1);
                          ASSERT_TRUE(cell && cell->actionInterface());
                          cell->actionInterface()->doAction(
                              QAccessibleActionInterface::toggleAction());
                      }}),
    [](const auto& info) { return std::string(info.param.name); });

// The list is frozen while its row is edited: an assistive technology's selection there
// would have the accepted update rewrite another row.
TEST_F(ControlTest, AFrozenListKeepsItsSelection) {
    load("1");
    selectRow(0);
    click("cmdEdit");
    type(" now");
    auto* view = qobject_cast<QTreeView*>(widget("lstComments"));
    QAccessible::queryAccessibleInterface(view)->tableInterface()->selectRow(2);
    EXPECT_EQ(form().lstComments().selectedIndex(), 0);
    click("cmdAdd");
    ASSERT_EQ(statements().size(), 1u);
    EXPECT_EQ(form().lstComments().itemText(0), "Call first now");
    EXPECT_EQ(form().lstComments().itemText(2), "Prices fixed");
}

struct DestroyPoint {
    const char* name;
    // Arms the destruction (through `destroy`), then makes the user's gesture.
    std::function<void(ControlTest&, const std::function<void()>& destroy)> act;
};

class DestroyTest : public ControlTest, public ::testing::WithParamInterface<DestroyPoint> {
protected:
    void TearDown() override {
        platform::setWaitHook({});
        platform::setPumpHook({});
        ControlTest::TearDown();
    }
};

// A host may close or delete the control while it waits: for the statement's answer,
// between the answer's chunks, in a message box, in a slot of its signals, or while a load
// is fetched. The control stops there and touches nothing of itself again.
TEST_P(DestroyTest, TheHostSurvivesDestroyingTheControl) {
    load("1");
    selectRow(0);
    QPointer<QWidget> alive(host.get());
    const auto destroy = [this] {
        control = nullptr;
        host.reset();
    };
    GetParam().act(*this, destroy);
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }));
    // Whatever was still queued for the control arrives now, and finds nothing.
    platform::setWaitHook({});
    platform::setPumpHook({});
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void saveNewComment(ControlTest& t) {
    t.click("cmdAdd");
    t.type("note");
    t.pick("cboLocation", 0);
    t.pick("cboType", 0);
    t.click("cmdAdd");
}

void confirmDelete(ControlTest& t) {
    t.answers.push_back(platform::vbYes);
    t.click("cmdDelete");
}

INSTANTIATE_TEST_SUITE_P(
    Waits, DestroyTest,
    ::testing::Values(
        DestroyPoint{"inTheStatementWait",
                     [](ControlTest& t, const auto& destroy) {
                         platform::setWaitHook(destroy);
                         saveNewComment(t);
                     }},
        DestroyPoint{"byClosingAWindowThatDeletesItselfInTheWait",
                     [](ControlTest& t, const auto&) {
                         QWidget* button = t.widget("cmdDelete");
                         QWidget* window = t.host.release();
                         t.control = nullptr;
                         window->setAttribute(Qt::WA_DeleteOnClose);
                         platform::setWaitHook([window] { window->close(); });
                         t.answers.push_back(platform::vbYes);
                         QTest::mouseClick(button, Qt::LeftButton);
                     }},
        DestroyPoint{"betweenTheAnswersChunks",
                     [](ControlTest& t, const auto& destroy) {
                         t.setStatementAnswer(std::string(5000, 'x'), 400);
                         platform::setPumpHook(destroy);
                         confirmDelete(t);
                     }},
        DestroyPoint{"inTheRefusalBox",
                     [](ControlTest& t, const auto& destroy) {
                         t.setStatementAnswer("Row is locked", 400);
                         platform::setMessageBoxHandler(
                             [destroy](const std::string& prompt, int, const std::string&) {
                                 if (prompt.find("Unsuccessful") != std::string::npos)
                                     destroy();
                                 return platform::vbYes;
                             });
                         t.click("cmdDelete");
                     }},
        DestroyPoint{"inTheConfirmationBox",
                     [](ControlTest& t, const auto& destroy) {
                         platform::setMessageBoxHandler(
                             [destroy](const std::string&, int, const std::string&) {
                                 destroy();
                                 return platform::vbYes;
                             });
                         t.click("cmdDelete");
                     }},
        DestroyPoint{"inASlotOfTheReloadAfterAnAdd",
                     [](ControlTest& t, const auto& destroy) {
                         QObject::connect(t.host.get(), &VendorCommentWidget::loaded, destroy);
                         saveNewComment(t);
                     }},
        DestroyPoint{"inASlotOfEditingChanged",
                     [](ControlTest& t, const auto& destroy) {
                         QObject::connect(t.host.get(), &VendorCommentWidget::editingChanged,
                                          destroy);
                         t.click("cmdAdd");
                     }},
        DestroyPoint{"inTheReloadAfterAnAdd",
                     [](ControlTest& t, const auto& destroy) {
                         t.holdDocuments(true);
                         platform::setWaitHook([&t, destroy] {
                             if (t.loadsArrived() == 2)
                                 destroy();
                         });
                         saveNewComment(t);
                     }},
        DestroyPoint{"whileLoadDataWaitsForTheServer",
                     [](ControlTest& t, const auto& destroy) {
                         t.holdDocuments(true);
                         t.host->loadData(QUrl(QString::fromStdString(t.server.baseUrl())), "318",
                                          VendorCommentWidget::ReadWrite, "", "",
                                          QDate(2009, 3, 23));
                         ASSERT_TRUE(QTest::qWaitFor([&] { return t.loadsArrived() == 2; }));
                         destroy();
                     }},
        DestroyPoint{"whileLoadDataFetches",
                     [](ControlTest& t, const auto& destroy) {
                         t.host->loadData(QUrl(QString::fromStdString(t.server.baseUrl())), "318",
                                          VendorCommentWidget::ReadWrite, "", "",
                                          QDate(2009, 3, 23));
                         destroy();
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

struct QuitPoint {
    const char* name;
    std::function<void(ControlTest&)> quit;
};

class QuitTest : public ControlTest, public ::testing::WithParamInterface<QuitPoint> {};

// The application quits while a Save waits for a slow server: the wait ends and the host's
// event loop returns, where once the process stayed in the wait for good.
TEST_P(QuitTest, TheEventLoopReturnsDuringTheStatementWait) {
    // Declared before the server, so that they outlive its handler threads.
    std::mutex mutex;
    std::condition_variable answered;
    bool release = false;
    TestServer slow;
    const auto releaseServer = [&] {
        std::lock_guard lock(mutex);
        release = true;
        answered.notify_all();
    };
    slow.http.Get("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(sampleDocument(), "text/xml");
    });
    slow.http.Post("/VendorCommentLOAD.asp", [&](const httplib::Request&, httplib::Response&) {
        std::unique_lock lock(mutex);
        answered.wait_for(lock, 10s, [&] { return release; });
    });
    slow.start();
    control->LoadData(slow.baseUrl(), "318", "1", "7", "03/23/2009", "3/23/2009");
    click("cmdAdd");
    type("note");
    pick("cboLocation", 0);
    pick("cboType", 0);

    int waitsAfterQuit = -1;
    platform::setWaitHook([&] {
        if (waitsAfterQuit < 0) {
            waitsAfterQuit = 0;
            GetParam().quit(*this);
        } else if (++waitsAfterQuit > 50) {
            // Still waiting: let the answer end it, so that the test ends.
            releaseServer();
            QCoreApplication::processEvents();
        }
    });
    QTimer::singleShot(0, [this] { click("cmdAdd"); });
    QApplication::exec();
    platform::setWaitHook({});
    releaseServer();

    EXPECT_LE(waitsAfterQuit, 2);
    EXPECT_FALSE(control->statementInFlight());
    EXPECT_EQ(control->state().mstrAction, "Add");
    EXPECT_EQ(form().txtComment().text(), "note");
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, QuitTest,
    ::testing::Values(QuitPoint{"quit", [](ControlTest&) { QCoreApplication::quit(); }},
                      QuitPoint{"closeTheLastWindow",
                                [](ControlTest& t) {
                                    // as the user does, from within the wait
                                    QTimer::singleShot(0, t.window, &QWidget::close);
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

struct BoxOwner {
    const char* name;
    bool errorBox;    // the failed save's box rather than the delete's confirmation
    bool wholeWindow; // the host deletes its window, not only the control
};

class BoxOwnerTest : public ControlTest, public ::testing::WithParamInterface<BoxOwner> {};

// The host deletes its window, or only the control, while a real message box of the control
// is open: the box closes unanswered and nothing is freed twice.
TEST_P(BoxOwnerTest, DeletingTheWindowUnderABoxClosesIt) {
    auto* hostWindow = new QWidget;
    host->setParent(hostWindow);
    hostWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(hostWindow));
    load("1");
    selectRow(0);
    if (GetParam().errorBox) {
        click("cmdAdd");
        type("note");
        pick("cboLocation", 0);
        pick("cboType", 0);
        setStatementAnswer("", 500);
    }
    platform::setMessageBoxHandler({}); // the real boxes
    QPointer<QWidget> window(hostWindow);
    QPointer<QWidget> box;
    bool shown = false;
    QTimer whenShown; // acts once the box is open
    QObject::connect(&whenShown, &QTimer::timeout, [&] {
        box = QApplication::activeModalWidget();
        if (!box)
            return;
        shown = true;
        whenShown.stop();
        control = nullptr;
        if (GetParam().wholeWindow) {
            (void)host.release(); // the window owns it
            delete hostWindow;
        } else {
            host.reset();
        }
    });
    whenShown.start(1);
    // A box left open is closed after a while, so that a failing test ends.
    QTimer leftOpen;
    leftOpen.setSingleShot(true);
    QObject::connect(&leftOpen, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    leftOpen.start(5000);
    QTest::mouseClick(widget(GetParam().errorBox ? "cmdAdd" : "cmdDelete"), Qt::LeftButton);
    EXPECT_TRUE(leftOpen.isActive());
    EXPECT_TRUE(shown);
    EXPECT_TRUE(box.isNull());
    EXPECT_EQ(window.isNull(), GetParam().wholeWindow);
    EXPECT_EQ(statements().size(), GetParam().errorBox ? 1u : 0u);
    delete window.data();
}

INSTANTIATE_TEST_SUITE_P(Boxes, BoxOwnerTest,
                         ::testing::Values(BoxOwner{"confirmationWindow", false, true},
                                           BoxOwner{"confirmationControl", false, false},
                                           BoxOwner{"errorBoxWindow", true, true},
                                           BoxOwner{"errorBoxControl", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, ClearedSelectionDisablesEditAndDelete) {
    load("1");
    selectRow(1);
    auto* view = qobject_cast<QTreeView*>(widget("lstComments"));
    const QPoint row1 = view->visualRect(view->model()->index(1, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, row1);
    ASSERT_EQ(form().lstComments().selectedIndex(), -1);
    EXPECT_FALSE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
    EXPECT_EQ(form().txtComment().text(), "Don`t ship on Fridays"); // nothing else changes
}

TEST_F(ControlTest, OnlyWholeNumbersBecomeKeys) {
    const struct {
        const char* sequence;
        const char* key;
    } cases[] = {{"7", "7"}, {" 12 ", "12"}, {"-3", "-3"}, {"1 OR 1=1", ""}, {"3.5", ""},
                 {"+3", ""}, {"0x1F", ""},   {"-", ""},    {"1e3", ""},      {"", ""}};
    LoadDocument document;
    document.loc("12", "Dock 1").typ("4", "General");
    for (const auto& c : cases)
        document.grid(c.sequence, "General", "Dock 1", "", "", std::string("row ") + c.sequence);
    setDocument(document.str());
    load("1");
    for (int row = 0; row < int(std::size(cases)); ++row) {
        SCOPED_TRACE(cases[row].sequence);
        selectRow(row);
        EXPECT_EQ(control->state().mstrSequence, cases[row].key);
        const bool isKey = *cases[row].key != '\0';
        EXPECT_EQ(form().cmdEdit().enabled(), isKey);
        EXPECT_EQ(form().cmdDelete().enabled(), isKey);
    }
}

struct ReentryCase {
    const char* name;
    bool deleting;
    std::string answer;
};

class ReentryTest : public ControlTest, public ::testing::WithParamInterface<ReentryCase> {};

// The answer is read in chunks with the user's events handled between them; a Save or
// Delete click there would once post a second insert or ask a second delete.
TEST_P(ReentryTest, ClicksWhileTheAnswerIsReadSendNothingMore) {
    load("1");
    setStatementAnswer(GetParam().answer);
    const std::string button = GetParam().deleting ? "cmdDelete" : "cmdAdd";
    int clicks = 0;
    if (GetParam().deleting) {
        selectRow(0);
        answers = {platform::vbYes, platform::vbYes};
    } else {
        click("cmdAdd");
        type("once");
        pick("cboLocation", 0);
        pick("cboType", 0);
    }
    {
        const WhileCompleting during(*control, [&] {
            ++clicks;
            click(button);
        });
        click(button);
    }
    EXPECT_GT(clicks, 0);
    EXPECT_EQ(statements().size(), 1u);
    const auto confirmations = std::count_if(boxes.begin(), boxes.end(), [](const ShownBox& b) {
        return b.style == platform::vbYesNo + platform::vbQuestion;
    });
    EXPECT_EQ(confirmations, GetParam().deleting ? 1 : 0);
    EXPECT_FALSE(control->statementInFlight());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ReentryTest,
    ::testing::Values(ReentryCase{"saveAccepted", false, ""},
                      ReentryCase{"saveLongRefusal", false, std::string(5000, 'r')},
                      ReentryCase{"deleteAccepted", true, ""},
                      ReentryCase{"deleteLongRefusal", true, std::string(5000, 'r')}),
    [](const auto& info) { return std::string(info.param.name); });

// While a statement is in flight the editor's buttons wait for it: a Cancel would hide an
// update the server accepts, and a row selected meanwhile must not be the one removed.
TEST_F(ControlTest, TheStatementInFlightKeepsItsRow) {
    load("1");
    selectRow(0);
    click("cmdEdit");
    type(" now");
    bool waited = false;
    platform::setWaitHook([&] {
        if (!std::exchange(waited, true))
            click("cmdEdit"); // Cancel
    });
    click("cmdAdd");
    EXPECT_TRUE(waited);
    EXPECT_EQ(form().lstComments().itemText(0), "Call first now");

    waited = false;
    answers = {platform::vbYes};
    platform::setWaitHook([&] {
        if (!std::exchange(waited, true))
            selectRow(2);
    });
    click("cmdDelete");
    platform::setWaitHook({});
    ASSERT_EQ(statements().size(), 2u);
    EXPECT_TRUE(statements()[1].ends_with("CommentSequence = 1"));
    const platform::ListView& list = form().lstComments();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.itemText(0), "Don`t ship on Fridays");
    EXPECT_EQ(list.itemText(1), "Prices fixed");
}

TEST_F(ControlTest, EndlessAnswersFailWithoutTakingTheHostDown) {
    TestServer endless;
    const auto endlessAnswer = [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/xml", [](std::size_t, httplib::DataSink& sink) {
            static const std::string block = "<a>" + std::string(64 * 1024, 'x') + "</a>";
            return sink.write(block.data(), block.size());
        });
    };
    endless.http.Get("/endless/VendorCommentLOAD.asp", endlessAnswer);
    endless.http.Get("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(sampleDocument(), "text/xml");
    });
    endless.http.Post("/VendorCommentLOAD.asp", endlessAnswer);
    endless.start();

    control->LoadData(endless.baseUrl() + "endless/", "318", "1", "7", "03/23/2009", "3/23/2009");
    EXPECT_EQ(form().lstComments().count(), 0);
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);

    control->LoadData(endless.baseUrl(), "318", "1", "7", "03/23/2009", "3/23/2009");
    ASSERT_EQ(form().lstComments().count(), 3);
    click("cmdAdd");
    type("note");
    pick("cboLocation", 0);
    pick("cboType", 0);
    click("cmdAdd");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (ShownBox{" Error !  ", 48, "ERROR"}));
    EXPECT_EQ(form().txtComment().text(), "note");
}

// What the box holds goes on the wire, character for character, in the code page.
TEST_F(ControlTest, TheCommentIsPostedAsTheBoxHoldsIt) {
    const struct {
        const char* typed;
        const char* encoded;
    } cases[] = {{"a\u00A0b", "a%A0b"}, {"\u20AC5", "%805"}, {"x\u2028y", "x%3Fy"}};
    load("1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoded);
        click("cmdAdd");
        type(c.typed);
        pick("cboLocation", 0);
        pick("cboType", 0);
        click("cmdAdd");
        const auto sent = requests();
        const auto post = std::find_if(sent.rbegin(), sent.rend(), [](const auto& request) {
            return request.method == "POST";
        });
        ASSERT_NE(post, sent.rend());
        const std::string& body = post->body;
        EXPECT_NE(body.find(std::string("%27") + c.encoded + "%27"), std::string::npos) << body;
    }
}

TEST_F(ControlTest, AOneMebibyteWordFillsTheEditorWhole) {
    const std::string word(1024 * 1024, 'w');
    setDocument(LoadDocument()
                    .loc("12", "Dock 1")
                    .typ("4", "General")
                    .grid("1", "General", "Dock 1", "", "", word)
                    .str());
    load("1");
    selectRow(0);
    EXPECT_EQ(form().txtComment().text(), word);
    QApplication::processEvents(); // the box lays the word out and paints it
    click("cmdEdit");
    type("!");
    EXPECT_EQ(form().txtComment().text(), word + "!");
}
