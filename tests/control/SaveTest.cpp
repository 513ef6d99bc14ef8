// Adding a comment: New Comment, the Save checks in their order, the insert on the wire,
// and every way the server's answer can end the transfer.

#include "ControlFixture.h"
#include "ParamName.h"

#include "editor/Statements.h"
#include "platform/EventPump.h"
#include "platform/MousePointer.h"
#include "platform/TestHooks.h"

#include <QTimer>

#include <chrono>
#include <thread>

using tavik::test::PrintTo;

using namespace tavik;

using platform::vbButtonFace;
using platform::vbWindowBackground;

TEST_F(ControlTest, NewCommentEntersAddingWithEmptyEditableFields) {
    load("1", "318", "3/23/2009");
    selectRow(2);
    click("cmdAdd");
    const auto s = control->state();
    EXPECT_EQ(s.mstrAction, "Add");
    EXPECT_EQ(form().cmdAdd().caption(), "Save");
    EXPECT_EQ(form().cmdEdit().caption(), "Cancel");
    EXPECT_TRUE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
    EXPECT_EQ(form().txtComment().text(), "");
    EXPECT_FALSE(form().txtComment().locked());
    EXPECT_EQ(form().txtComment().backColor(), vbWindowBackground);
    for (platform::ComboBox* combo : {&form().cboType(), &form().cboLocation()}) {
        EXPECT_EQ(combo->listIndex(), -1);
        EXPECT_FALSE(combo->locked());
        EXPECT_EQ(combo->backColor(), vbWindowBackground);
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(form().chkDate(i).enabled());
        EXPECT_EQ(form().chkDate(i).value(), 0);
        EXPECT_FALSE(form().DateBox(i).visible());
        EXPECT_TRUE(form().DateBox(i).enabled());
        EXPECT_EQ(platform::isoDate(form().DateBox(i).value()), "2009-03-23");
    }
    EXPECT_EQ(form().focusedWidget(), "txtComment");
    EXPECT_TRUE(form().lstComments().enabled());
    EXPECT_EQ(s.mstrSequence, "3");
}

struct CheckCase {
    const char* name;
    const char* comment;
    int effectiveDay, expiresDay; // day of March 2009; 0 leaves the date unchecked
    int location, type;           // entry to pick; -1 picks none
    const char* prompt;
    const char* title;
    const char* focus;
};

class SaveCheckTest : public ControlTest, public ::testing::WithParamInterface<CheckCase> {};

// The first failing check shows its message and moves the focus; nothing is sent.
TEST_P(SaveCheckTest, RefusesWithItsMessage) {
    const CheckCase& c = GetParam();
    load("1");
    click("cmdAdd");
    type(c.comment);
    if (c.effectiveDay) {
        click("chkDate(0)");
        setDate(0, 2009, 3, c.effectiveDay);
    }
    if (c.expiresDay) {
        click("chkDate(1)");
        setDate(1, 2009, 3, c.expiresDay);
    }
    if (c.location >= 0)
        pick("cboLocation", c.location);
    if (c.type >= 0)
        pick("cboType", c.type);
    click("cmdAdd");

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (ShownBox{c.prompt, 64, c.title}));
    EXPECT_EQ(form().focusedWidget(), c.focus);
    EXPECT_TRUE(statements().empty());
    EXPECT_EQ(control->state().mstrAction, "Add");
    EXPECT_EQ(form().cmdAdd().caption(), "Save");
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SaveCheckTest,
    ::testing::Values(CheckCase{"emptyComment", "", 5, 1, -1, -1, "Please enter Vendor comments",
                                "Information Validation", "txtComment"},
                      CheckCase{"expiresBeforeEffective", "x", 5, 4, 0, 0,
                                "Expires Date should be greater than Effective Date",
                                "Vendor Comments", "DateBox(1)"},
                      CheckCase{"expiresWithoutEffective", "x", 0, 4, 0, 0,
                                "The Effective Date Required", "Vendor Comments", "chkDate(0)"},
                      CheckCase{"sameDayPassesNoLocation", "x", 5, 5, -1, -1,
                                "Vendor location is required", "Vendor Comments", "cboLocation"},
                      CheckCase{"spacesArePresentNoType", "   ", 0, 0, 1, -1,
                                "Vendor type is required", "Vendor Comments", "cboType"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, AcceptedInsertReloadsAndReturnsToBrowse) {
    load("2", "318");
    click("cmdAdd");
    type("Don't ship");
    pick("cboLocation", 0);
    pick("cboType", 0);
    click("chkDate(0)");
    setDate(0, 2009, 4, 1);
    setStatementAnswer("");
    click("cmdAdd");

    ASSERT_EQ(statements().size(), 1u);
    EXPECT_EQ(statements()[0], InsertStatement("318", 4, 12, "4/1/2009", "", "Don't ship"));
    const auto sent = requests();
    EXPECT_EQ(loadCount(), 2); // the first load and the reload, with the same URL
    EXPECT_EQ(sent.front().target, sent.back().target);
    EXPECT_EQ(control->state().mintMode, 2);
    EXPECT_EQ(control->state().mstrAction, "");
    EXPECT_EQ(control->state().mstrEffective, "4/1/2009");
    EXPECT_EQ(form().cmdAdd().caption(), "New Comment");
    EXPECT_EQ(form().cmdEdit().caption(), "Edit");
    EXPECT_TRUE(form().txtComment().locked());
    EXPECT_EQ(form().txtComment().backColor(), vbButtonFace);
    EXPECT_TRUE(form().cboType().locked());
    EXPECT_EQ(form().cboLocation().backColor(), vbButtonFace);
    EXPECT_FALSE(form().chkDate(0).enabled());
    EXPECT_FALSE(form().DateBox(0).enabled());
    EXPECT_EQ(form().focusedWidget(), "lstComments");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlTest, PostCarriesOneAddedHeaderAndTheEncodedBody) {
    load("1");
    click("cmdAdd");
    type("x = 'y'");
    pick("cboLocation", 1);
    pick("cboType", 1);
    click("cmdAdd");
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].method, "POST");
    EXPECT_EQ(sent[1].target, "/VendorCommentLOAD.asp");
    EXPECT_EQ(sent[1].contentType, "application/x-www-form-urlencoded");
    EXPECT_TRUE(sent[1].body.starts_with("SQL=+Declare+%40MaxID++int+%3B+")) << sent[1].body;
    EXPECT_TRUE(sent[1].body.ends_with("%27x+%3D+%60y%60%27%2C++GETDATE%28%29%29")) << sent[1].body;
}

enum class Outcome { Accepted, Refused, Failed };

struct AnswerCase {
    const char* name;
    std::string body;
    int status;
    Outcome outcome;
};

class AnswerTest : public ControlTest, public ::testing::WithParamInterface<AnswerCase> {};

// A blank answer accepts unless its status says the server failed or redirected; any other answer
// is shown in full. A refused or failed save leaves the editor as it was, so the user can correct
// and save again.
TEST_P(AnswerTest, DecidesByTheBodyAndAnErrorStatus) {
    load("1");
    click("cmdAdd");
    type("note");
    pick("cboLocation", 0);
    pick("cboType", 0);
    setStatementAnswer(GetParam().body, GetParam().status);
    click("cmdAdd");
    if (GetParam().outcome == Outcome::Accepted) {
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(control->state().mstrAction, "");
        EXPECT_EQ(loadCount(), 2);
    } else {
        const ShownBox expected = GetParam().outcome == Outcome::Refused
                                      ? ShownBox{GetParam().body + "   Unsuccessful attempt ", 16,
                                                 "Vendor  Comment - ERROR"}
                                      : ShownBox{" Error !  ", 48, "ERROR"};
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], expected);
        EXPECT_EQ(control->state().mstrAction, "Add");
        EXPECT_EQ(form().txtComment().text(), "note");
        EXPECT_EQ(form().cboType().listIndex(), 0);
        EXPECT_EQ(loadCount(), 1);
    }
    EXPECT_FALSE(control->statementInFlight());
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerTest,
    ::testing::Values(
        AnswerCase{"empty", "", 200, Outcome::Accepted},
        AnswerCase{"spacesOnly", "   ", 200, Outcome::Accepted},
        AnswerCase{"noContent", "", 204, Outcome::Accepted},
        AnswerCase{"acceptedForLater", "", 202, Outcome::Accepted},
        AnswerCase{"serverErrorWithEmptyBody", "", 500, Outcome::Failed},
        AnswerCase{"notFoundWithSpaces", "  ", 404, Outcome::Failed},
        // A redirect is not followed: the statement never ran.
        AnswerCase{"movedPermanently", "", 301, Outcome::Failed},
        AnswerCase{"found", "", 302, Outcome::Failed},
        AnswerCase{"seeOther", " ", 303, Outcome::Failed},
        AnswerCase{"temporaryRedirect", "", 307, Outcome::Failed},
        AnswerCase{"lineBreak", "\n", 200, Outcome::Refused},
        AnswerCase{"errorTextKeepsTrailingSpace", "Bad code ", 200, Outcome::Refused},
        AnswerCase{"errorPage", "<html>Internal error</html>", 500, Outcome::Refused},
        AnswerCase{"longerThanOneChunk", std::string(3000, 'e') + "!", 400, Outcome::Refused},
        AnswerCase{"longerThanOneMebibyte", std::string(1024 * 1024 + 1, 'e'), 200,
                   Outcome::Failed},
        AnswerCase{"nonAsciiText", "Fehler: ung\xC3\xBCltig \xE2\x82\xAC", 400, Outcome::Refused}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, ConnectionRefusedGivesTheErrorBox) {
    load("1");
    click("cmdAdd");
    type("note");
    pick("cboLocation", 0);
    pick("cboType", 0);
    server.http.stop(); // nobody listens any more
    click("cmdAdd");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (ShownBox{" Error !  ", 48, "ERROR"}));
    EXPECT_EQ(control->state().mstrAction, "Add");
    EXPECT_EQ(form().txtComment().text(), "note");
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
}

TEST_F(ControlTest, SilentServerEndsAsAFailedTransferWithinTheLimit) {
    // A page that serves the document but never answers a statement in time.
    TestServer silent;
    silent.http.Get("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(sampleDocument(), "text/xml");
    });
    silent.http.Post("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response&) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
    });
    silent.start();
    platform::setInetTimeLimitsForTesting(std::chrono::milliseconds(500),
                                          std::chrono::milliseconds(700));
    control->LoadData(silent.baseUrl(), "318", "1", "7", "03/23/2009", "3/23/2009");
    click("cmdAdd");
    type("note");
    pick("cboLocation", 0);
    pick("cboType", 0);
    click("cmdAdd");
    platform::setInetTimeLimitsForTesting(platform::inetConnectLimit, platform::inetTransferLimit);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (ShownBox{" Error !  ", 48, "ERROR"}));
    EXPECT_EQ(control->state().mstrAction, "Add");
}

TEST_F(ControlTest, SecondSaveWhileTheFirstIsInFlightSendsNothing) {
    server.http.Post("/VendorCommentLOAD.asp", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        res.set_content("", "text/plain");
    });
    load("1");
    click("cmdAdd");
    type("once");
    pick("cboLocation", 0);
    pick("cboType", 0);
    bool clickedDuringWait = false;
    platform::setWaitHook([&] {
        if (!clickedDuringWait) {
            clickedDuringWait = true;
            click("cmdAdd");
        }
    });
    click("cmdAdd");
    platform::setWaitHook({});
    EXPECT_TRUE(clickedDuringWait);
    EXPECT_EQ(statements().size(), 1u);
    EXPECT_EQ(control->state().mstrAction, "");
}

// The reload after an accepted insert is awaited as the statement is: the host's timers and
// the window's events run meanwhile, the control's own clicks do nothing, and the reload ends
// the save as before.
TEST_F(ControlTest, TheReloadAfterAnAddLetsTheHostRunAndIgnoresClicks) {
    load("1");
    click("cmdAdd");
    type("while reloading");
    pick("cboLocation", 0);
    pick("cboType", 0);
    setStatementAnswer("");
    setDocument(LoadDocument()
                    .loc("12", "Dock 1")
                    .typ("4", "General")
                    .grid("9", "General", "Dock 1", "", "", "while reloading")
                    .str());
    holdDocuments(true);
    int ticksInTheReload = 0;
    QTimer hostTimer;
    QObject::connect(&hostTimer, &QTimer::timeout, [&] {
        if (loadsArrived() < 2 || ticksInTheReload++ > 0)
            return;
        EXPECT_TRUE(control->statementInFlight());
        click("cmdAdd");
        click("cmdEdit");
        doubleClickRow(0);
        holdDocuments(false);
    });
    hostTimer.start(10);
    click("cmdAdd");
    hostTimer.stop();
    EXPECT_GE(ticksInTheReload, 1);
    EXPECT_EQ(statements().size(), 1u);
    EXPECT_EQ(control->state().mstrAction, "");
    EXPECT_FALSE(control->statementInFlight());
    ASSERT_EQ(form().lstComments().count(), 1);
    EXPECT_EQ(form().lstComments().itemText(0), "while reloading");
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
}
