// Creating the control and loading a vendor: columns, version label, the control state,
// the permission mode, the load request and the load document, and every way a load fails.

#include "ControlFixture.h"
#include "ParamName.h"

#include "platform/MousePointer.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMetaProperty>
#include <QProperty>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <thread>

using tavik::test::PrintTo;

using namespace tavik;

using platform::vbButtonFace;
using platform::vbWindowBackground;

namespace {

using tavik::test::PrintTo;

std::vector<std::string> entries(const platform::ComboBox& combo) {
    std::vector<std::string> texts;
    for (int i = 0; i < combo.listCount(); ++i)
        texts.push_back(combo.list(i) + "=" + std::to_string(combo.itemData(i)));
    return texts;
}

std::vector<std::string> rows(const platform::ListView& list) {
    std::vector<std::string> texts;
    for (int r = 0; r < list.count(); ++r) {
        std::string row = list.itemText(r);
        for (int sub = 1; sub <= 5; ++sub)
            row += "|" + list.subItem(r, sub);
        texts.push_back(row);
    }
    return texts;
}

} // namespace

TEST_F(ControlTest, FreshControlShowsColumnsVersionAndNoData) {
    const platform::ListView& list = form().lstComments();
    ASSERT_EQ(list.columnCount(), 6);
    const std::vector<std::pair<std::string, double>> expected{
        {"Comment", 10290 / 2.16},       {"Type", 10290 / 6.5},         {"Location", 10290 / 8.0},
        {"Effective Date", 10290 / 8.0}, {"Expires Date", 10290 / 8.0}, {"CommentSequence", 0}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(list.columnText(c), expected[c].first);
        EXPECT_DOUBLE_EQ(list.columnWidth(c), expected[c].second);
    }
    EXPECT_NEAR(list.columnWidth(0), 4763.89, 0.005);
    EXPECT_EQ(qobject_cast<QTreeView*>(widget("lstComments"))->header()->count(), 5);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(form().lblVersionNumber().caption(), "Version Number: 2.0.6");
    EXPECT_FALSE(form().DateBox(0).visible());
    EXPECT_FALSE(form().DateBox(1).visible());
    EXPECT_EQ(form().txtComment().backColor(), vbButtonFace);
    EXPECT_EQ(form().cboType().backColor(), vbButtonFace);
    EXPECT_EQ(form().cboLocation().backColor(), vbButtonFace);
    EXPECT_EQ(control->state().mintMode, 0);
    EXPECT_FALSE(control->state().mblnDeleting);
}

TEST_F(ControlTest, ResizingMovesNothing) {
    const QRect before = widget("cmdAdd")->geometry();
    window->resize(200, 100);
    window->resize(1600, 1000);
    EXPECT_EQ(widget("cmdAdd")->geometry(), before);
    EXPECT_NEAR(form().lstComments().columnWidth(0), 4763.89, 0.005);
}

TEST_F(ControlTest, LoadFillsListsInDocumentOrderAndStoresState) {
    load("1", "318", "3/23/2009");

    EXPECT_EQ(entries(form().cboLocation()), (std::vector<std::string>{"Dock 1=12", "Office=14"}));
    EXPECT_EQ(entries(form().cboType()), (std::vector<std::string>{"General=4", "Shipping=5"}));
    EXPECT_EQ(rows(form().lstComments()),
              (std::vector<std::string>{"Call first|General|Dock 1|3/1/2009||1",
                                        "Don`t ship on Fridays|Shipping|Office|||2",
                                        "Prices fixed|General|Office|4/1/2009|12/31/2009|3"}));

    const VendorComment::State s = control->state();
    EXPECT_EQ(s.mstrServerName, server.baseUrl());
    EXPECT_EQ(s.mstrVendorID, "318");
    EXPECT_EQ(s.mintMode, 1);
    EXPECT_EQ(s.mstrSCRN, "7");
    EXPECT_EQ(s.mstrPODate, "03/23/2009");
    EXPECT_EQ(s.mstrServerDate, "3/23/2009");
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlTest, LoadRequestIsTheServerPageWithTheContextValues) {
    control->LoadData(server.baseUrl(), "V100", "1", "7", "03/23/2009", "3/23/2009");
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "GET");
    EXPECT_EQ(sent[0].target, "/VendorCommentLOAD.asp?Vendor=V100&SCRN=7&PODate=03/23/2009");
}

TEST_F(ControlTest, LoadRequestEncodesValuesThatWouldChangeTheQuery) {
    control->LoadData(server.baseUrl(), "A&B=C", "1", "7 8", "03/23/2009#x", "3/23/2009");
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].target,
              "/VendorCommentLOAD.asp?Vendor=A%26B%3DC&SCRN=7%208&PODate=03/23/2009%23x");
    EXPECT_EQ(sent[0].query, "PODate=03/23/2009#x&SCRN=7 8&Vendor=A&B=C");
}

TEST_F(ControlTest, AfterLoadTheEditorHasTheBrowseLook) {
    load("1");
    EXPECT_EQ(form().cmdAdd().caption(), "New Comment");
    EXPECT_TRUE(form().cmdAdd().enabled());
    EXPECT_EQ(form().cmdEdit().caption(), "Edit");
    EXPECT_FALSE(form().cmdEdit().enabled());
    EXPECT_FALSE(form().cmdDelete().enabled());
    EXPECT_EQ(form().txtComment().text(), "");
    EXPECT_TRUE(form().txtComment().locked());
    EXPECT_EQ(form().txtComment().backColor(), vbButtonFace);
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(form().chkDate(i).enabled());
        EXPECT_FALSE(form().DateBox(i).enabled());
    }
    EXPECT_TRUE(form().lstComments().enabled());
    EXPECT_TRUE(form().lstComments().hideSelection());
    EXPECT_EQ(form().lstComments().backColor(), vbWindowBackground);
}

struct ModeCase {
    const char* name;
    std::vector<std::string> modes; // successive LoadData calls
    bool addEnabled;
    int mintMode;
};

class ModeTest : public ControlTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeTest, ModeDecidesNewComment) {
    for (const std::string& mode : GetParam().modes)
        load(mode);
    EXPECT_EQ(form().cmdAdd().enabled(), GetParam().addEnabled);
    EXPECT_EQ(control->state().mintMode, GetParam().mintMode);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeTest,
    ::testing::Values(ModeCase{"one", {"1"}, true, 1}, ModeCase{"two", {"2"}, true, 2},
                      ModeCase{"zero", {"0"}, false, 0},
                      ModeCase{"otherAfterZeroKeepsDisabled", {"0", "3"}, false, 3},
                      ModeCase{"otherAfterOneKeepsEnabled", {"1", "-7"}, true, -7},
                      ModeCase{"halfRoundsToEvenTwo", {"0", "1.5"}, true, 2},
                      ModeCase{"halfRoundsToEvenZero", {"1", "0.5"}, false, 0},
                      ModeCase{"twoAndAHalfIsTwo", {"0", " 2.5 "}, true, 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadArgumentCase {
    const char* name;
    const char* mode;
    const char* serverDate;
    bool serverDateKept; // the date, SCRN and PO date keep their old values too
};

class BadArgumentTest : public ControlTest,
                        public ::testing::WithParamInterface<BadArgumentCase> {};

// A mode or date that does not convert ends the load before any widget changes or any
// request is made; what was stored before the failing step stays stored.
TEST_P(BadArgumentTest, EndsTheLoadQuietly) {
    load("0", "318", "3/23/2009");
    const auto before = requests().size();
    control->LoadData("http://127.0.0.1:1/", "V100", GetParam().mode, "9", "01/01/2010",
                      GetParam().serverDate);

    EXPECT_EQ(requests().size(), before);
    const VendorComment::State s = control->state();
    EXPECT_EQ(s.mstrVendorID, "V100");
    EXPECT_EQ(s.mstrServerName, "http://127.0.0.1:1/");
    EXPECT_EQ(s.mintMode, 0);
    EXPECT_EQ(s.mstrServerDate, GetParam().serverDateKept ? "3/23/2009" : "1/5/2010");
    EXPECT_EQ(s.mstrSCRN, GetParam().serverDateKept ? "7" : "9");
    EXPECT_EQ(s.mstrPODate, GetParam().serverDateKept ? "03/23/2009" : "01/01/2010");
    EXPECT_EQ(form().lstComments().count(), 3); // widgets untouched
    EXPECT_EQ(form().cboType().listCount(), 2);
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadArgumentTest,
    ::testing::Values(BadArgumentCase{"emptyMode", "", "1/5/2010", false},
                      BadArgumentCase{"wordMode", "abc", "1/5/2010", false},
                      BadArgumentCase{"modeWithTrailingText", "1x", "1/5/2010", false},
                      BadArgumentCase{"modeOutOfRange", "32768", "1/5/2010", false},
                      BadArgumentCase{"emptyServerDate", "1", "", true},
                      BadArgumentCase{"serverDateNotADate", "1", "2/30/2010", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, ServerDateIsNormalisedAndStableOnReload) {
    load("1", "318", "2009-03-23");
    EXPECT_EQ(control->state().mstrServerDate, "3/23/2009");
    load("1", "318", "3/23/09"); // a host's two-digit year
    EXPECT_EQ(control->state().mstrServerDate, "3/23/2009");
    EXPECT_EQ(form().lstComments().count(), 3);
    load("1", "318", "3/23/2009 13:05:09");
    const std::string withTime = control->state().mstrServerDate;
    EXPECT_EQ(withTime, "3/23/2009 1:05:09 PM");
    load("1", "318", withTime);
    EXPECT_EQ(control->state().mstrServerDate, withTime);
}

TEST_F(ControlTest, RepeatedLoadsNeverDuplicate) {
    load();
    load();
    EXPECT_EQ(form().lstComments().count(), 3);
    EXPECT_EQ(form().cboType().listCount(), 2);
    EXPECT_EQ(form().cboLocation().listCount(), 2);
}

TEST_F(ControlTest, IndentedDocumentReadsAsTheCompactOne) {
    const std::string compact = sampleDocument();
    std::string indented;
    for (std::size_t i = 0; i < compact.size(); ++i) {
        indented += compact[i];
        if (compact[i] == '>' && i + 1 < compact.size() && compact[i + 1] == '<')
            indented += "\n    ";
    }
    setDocument(indented);
    load();
    const auto fromIndented = rows(form().lstComments());
    const auto typesIndented = entries(form().cboType());
    setDocument(sampleDocument());
    load();
    EXPECT_EQ(fromIndented, rows(form().lstComments()));
    EXPECT_EQ(typesIndented, entries(form().cboType()));
}

struct CodeCase {
    const char* name;
    const char* text;
    int code;
};

class LookupCodeTest : public ControlTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(LookupCodeTest, CodeIsTheLeadingNumberRoundedHalfEven) {
    setDocument(LoadDocument().typ(GetParam().text, "General").str());
    load();
    ASSERT_EQ(form().cboType().listCount(), 1);
    EXPECT_EQ(form().cboType().itemData(0), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LookupCodeTest,
    ::testing::Values(CodeCase{"threeAndAHalf", "3.5", 4}, CodeCase{"twoAndAHalf", "2.5", 2},
                      CodeCase{"empty", "", 0}, CodeCase{"trailingText", "12abc", 12},
                      CodeCase{"word", "abc", 0}, CodeCase{"hex", "&H1F", 31},
                      CodeCase{"octal", "&O17", 15}, CodeCase{"negative", "-7", -7},
                      CodeCase{"blanksInside", " 1 2 ", 12},
                      CodeCase{"largest", "2147483647", 2147483647}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, ElementsAreReadByPositionAndOnlyExactNamesCount) {
    setDocument(LoadDocument()
                    .raw("<loc><a>1</a><b>lower-case loc</b></loc>")
                    .raw("<GRID><x>ignored</x><y>7</y><x>ignored</x><Ty>Any</Ty><x>ignored</x>"
                         "<Lo>Where</Lo><E>1/2/2009</E><X></X><C>first</C><extra>z</extra>"
                         "</GRID>")
                    .raw("<!-- a comment between rows --><Grid><a/></Grid><?pi data?>"
                         "<other>text</other>")
                    .grid("8", "T", "L", "", "", "second")
                    .loc("5", "Dock")
                    .loc("6", "Dock")
                    .str());
    load();
    EXPECT_EQ(rows(form().lstComments()),
              (std::vector<std::string>{"first|Any|Where|1/2/2009||7", "second|T|L|||8"}));
    EXPECT_EQ(entries(form().cboLocation()), (std::vector<std::string>{"Dock=5", "Dock=6"}));
}

TEST_F(ControlTest, TextContentGathersNestedText) {
    setDocument(LoadDocument()
                    .raw("<TYP><Code>4</Code><Name>Gen<b>er</b><![CDATA[al & more]]></Name>"
                         "</TYP>")
                    .str());
    load();
    ASSERT_EQ(form().cboType().listCount(), 1);
    EXPECT_EQ(form().cboType().list(0), "General & more");
}

struct PartialCase {
    const char* name;
    std::string document;
    int locations, types, rows;
    int lastLocationCode; // item data of the last location entry
};

class PartialLoadTest : public ControlTest, public ::testing::WithParamInterface<PartialCase> {};

// A faulty element ends the load; what was added before it stays, with no message.
TEST_P(PartialLoadTest, KeepsWhatCameBeforeTheFault) {
    setDocument(GetParam().document);
    load();
    EXPECT_EQ(form().cboLocation().listCount(), GetParam().locations);
    EXPECT_EQ(form().cboType().listCount(), GetParam().types);
    EXPECT_EQ(form().lstComments().count(), GetParam().rows);
    if (GetParam().locations > 0) {
        EXPECT_EQ(form().cboLocation().itemData(GetParam().locations - 1),
                  GetParam().lastLocationCode);
    }
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(form().cmdAdd().enabled()); // ApplyMode and ClearForm ran
}

INSTANTIATE_TEST_SUITE_P(
    Documents, PartialLoadTest,
    ::testing::Values(
        PartialCase{"gridWithEightChildren",
                    LoadDocument()
                        .loc("1", "A")
                        .grid("1", "T", "L", "", "", "kept")
                        .raw("<GRID><a/><b/><c/><d/><e/><f/><g/><h/></GRID>")
                        .typ("2", "never")
                        .str(),
                    1, 0, 1, 1},
        PartialCase{
            "locWithOneChild",
            LoadDocument().typ("1", "T").raw("<LOC><Code>3</Code></LOC>").loc("4", "X").str(), 0, 1,
            0, 0},
        PartialCase{"codeBeyondRangeKeepsTheEntryWithZero",
                    LoadDocument().loc("1", "A").loc("2147483648", "Too big").loc("3", "C").str(),
                    2, 0, 0, 0},
        PartialCase{"emptyRoot", LoadDocument().str(), 0, 0, 0, 0},
        PartialCase{"notXml", "this is not XML", 0, 0, 0, 0},
        PartialCase{"halfADocument", sampleDocument().substr(0, 200), 0, 0, 0, 0},
        // A document is checked whole before anything is read, even one read in parts.
        PartialCase{"tagThatDoesNotCloseInTheLastPart",
                    [] {
                        LoadDocument document;
                        document.loc("1", "A").typ("2", "T");
                        for (int i = 0; i < 1000; ++i)
                            document.grid(std::to_string(i), "T", "A", "", "", "a comment");
                        return document.raw("<GRID><a></b></GRID>").str();
                    }(),
                    0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, HttpErrorStatusLoadsNothing) {
    setDocument(sampleDocument(), 500);
    load();
    EXPECT_EQ(form().lstComments().count(), 0);
    EXPECT_EQ(form().cboType().listCount(), 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlTest, ServerThatIsNotThereLeavesEmptyListsAndTheBrowseLook) {
    load();
    control->LoadData("http://127.0.0.1:1/", "318", "1", "7", "03/23/2009", "3/23/2009");
    EXPECT_EQ(form().lstComments().count(), 0);
    EXPECT_EQ(form().cboType().listCount(), 0);
    EXPECT_EQ(form().cboLocation().listCount(), 0);
    EXPECT_EQ(form().cmdEdit().caption(), "Edit");
    EXPECT_EQ(platform::mousePointer(), platform::vbDefault);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ControlTest, TenThousandRowsAllArrive) {
    LoadDocument document;
    document.loc("1", "Dock").typ("2", "General");
    for (int i = 1; i <= 10000; ++i)
        document.grid(std::to_string(i), "General", "Dock", "", "", "Comment " + std::to_string(i));
    setDocument(document.str());
    load();
    ASSERT_EQ(form().lstComments().count(), 10000);
    EXPECT_EQ(form().lstComments().itemText(9999), "Comment 10000");
    EXPECT_EQ(form().lstComments().subItem(9999, 5), "10000");
}

// loadData returns before the document arrives, shows the busy pointer over the control only
// meanwhile, and of two calls in a row only the second fills the lists; reload repeats it.
TEST_F(ControlTest, LoadDataRunsInTheBackgroundAndTheLastCallWins) {
    QSignalSpy loaded(host.get(), &VendorCommentWidget::loaded);
    const QUrl base(QString::fromStdString(server.baseUrl()));
    host->loadData(base, "first", VendorCommentWidget::ViewOnly, "", "", QDate(2009, 3, 23));
    host->loadData(base, "318", VendorCommentWidget::ReadWrite, "", "", QDate(2009, 3, 23));
    EXPECT_EQ(loaded.count(), 0);
    EXPECT_EQ(host->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.count() == 1; }));
    QCoreApplication::processEvents(); // the superseded fetch, if it ended last
    EXPECT_EQ(loaded.count(), 1);
    EXPECT_EQ(host->vendorId(), "318");
    EXPECT_EQ(host->rowCount(), 3);
    EXPECT_EQ(host->cursor().shape(), Qt::ArrowCursor);

    const int loads = loadCount();
    host->reload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.count() == 2; }));
    EXPECT_EQ(loadCount(), loads + 1);
    EXPECT_EQ(host->rowCount(), 3);
}

// A call from another thread would touch widgets there: it is refused with a warning.
TEST_F(ControlTest, CallsFromAnotherThreadAreRefused) {
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtWarningMsg)
                warnings << QString::fromUtf8(context.category) + ": " + text;
        });
    std::thread([&] {
        host->LoadData(server.baseUrl(), "318", "1", "", "", "3/23/2009");
        host->loadData(QUrl(QString::fromStdString(server.baseUrl())), "318",
                       VendorCommentWidget::ReadWrite, "", "", QDate(2009, 3, 23));
        EXPECT_EQ(host->rowCount(), 0);
    }).join();
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings.size(), 3);
    EXPECT_TRUE(warnings.value(0).startsWith("tavik.vendorcomment.widget: "));
    EXPECT_TRUE(warnings.value(0).contains("LoadData: called from a thread other than"));
    EXPECT_EQ(loadCount(), 0);
}

struct LoadEntry {
    const char* name;
    std::string prefixQuery; // after the server's prefix
    std::function<void(ControlTest&, const std::string& prefix)> run;
};

class LoadEntryTest : public ControlTest, public ::testing::WithParamInterface<LoadEntry> {};

// Every way a load starts fetches its document once and reads that one; a prefix with a
// query keeps it after the page name, for the load and for the statements.
TEST_P(LoadEntryTest, FetchesTheDocumentOnceAndReadsIt) {
    const std::string prefix = server.baseUrl() + GetParam().prefixQuery;
    host->LoadData(prefix, "318", "1", "7", "03/23/2009", "3/23/2009");
    ASSERT_EQ(host->rowCount(), 3);
    QSignalSpy loaded(host.get(), &VendorCommentWidget::loaded);
    setDocument(LoadDocument().loc("12", "Dock 1").typ("4", "General").str());
    GetParam().run(*this, prefix);
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.count() == 1; }));
    EXPECT_EQ(loadCount(), 2);
    EXPECT_EQ(host->rowCount(), 0);
    EXPECT_EQ(form().cboType().listCount(), 1);
    const std::string page = "/VendorCommentLOAD.asp" +
                             (GetParam().prefixQuery.empty() ? "?" : GetParam().prefixQuery + "&");
    for (const TestServer::Request& request : requests()) {
        EXPECT_EQ(request.target, request.method == "GET"
                                      ? page + "Vendor=318&SCRN=7&PODate=03/23/2009"
                                      : page.substr(0, page.size() - 1));
    }
}

const auto saveNew = [](ControlTest& t, const std::string&) {
    t.click("cmdAdd");
    t.type("note");
    t.pick("cboLocation", 0);
    t.pick("cboType", 0);
    t.setStatementAnswer("");
    t.click("cmdAdd");
};
const auto asynchronous = [](ControlTest& t, const std::string& prefix) {
    t.host->loadData(QUrl(QString::fromStdString(prefix)), "318", VendorCommentWidget::ReadWrite,
                     "7", "03/23/2009", QDate(2009, 3, 23));
};

INSTANTIATE_TEST_SUITE_P(
    Entries, LoadEntryTest,
    ::testing::Values(LoadEntry{"hostsLoadData", "",
                                [](ControlTest& t, const std::string& prefix) {
                                    t.host->LoadData(prefix, "318", "1", "7", "03/23/2009",
                                                     "3/23/2009");
                                }},
                      LoadEntry{"loadData", "", asynchronous},
                      LoadEntry{"reload", "",
                                [](ControlTest& t, const std::string&) { t.host->reload(); }},
                      LoadEntry{"reloadAfterAnAdd", "", saveNew},
                      LoadEntry{"loadDataUnderAQuery", "?site=2", asynchronous},
                      LoadEntry{"reloadAfterAnAddUnderAQuery", "?site=2", saveNew}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    std::string document;
    int status;
    std::string mode, serverDate;
    std::string reason; // the start of it
};

class LoadFailureTest : public ControlTest, public ::testing::WithParamInterface<FailureCase> {};

// The host hears the cause of a failed load, in its own terms; the user sees nothing.
TEST_P(LoadFailureTest, NamesTheCause) {
    QSignalSpy failed(host.get(), &VendorCommentWidget::loadFailed);
    setDocument(GetParam().document, GetParam().status);
    control->LoadData(GetParam().status ? server.baseUrl() : "http://127.0.0.1:1/", "318",
                      GetParam().mode, "", "", GetParam().serverDate);
    ASSERT_EQ(failed.count(), 1);
    const std::string reason = failed.front().front().toString().toStdString();
    EXPECT_TRUE(reason.starts_with(GetParam().reason)) << reason;
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, LoadFailureTest,
    ::testing::Values(
        FailureCase{"errorStatus", sampleDocument(), 500, "1", "3/23/2009", "HTTP status 500"},
        FailureCase{"signInWanted", "", 401, "1", "3/23/2009", "sign-in needed (HTTP 401)"},
        FailureCase{"noServer", "", 0, "1", "3/23/2009", "Failed to connect to 127.0.0.1 port 1"},
        FailureCase{"notXml", "junk", 200, "1", "3/23/2009", "not well-formed XML"},
        FailureCase{"shortGrid", LoadDocument().loc("1", "A").raw("<GRID><a/><b/></GRID>").str(),
                    200, "1", "3/23/2009",
                    "the GRID element at position 1 of the root has 2 children; it needs 9"},
        FailureCase{"codeOutOfRange", LoadDocument().typ("2147483648", "Big").str(), 200, "1",
                    "3/23/2009",
                    "the code \"2147483648\" of the TYP element at position 0 of the root is "
                    "beyond the 32-bit range"},
        FailureCase{"serverDate", sampleDocument(), 200, "1", "2/30/2010",
                    "the server date \"2/30/2010\" is not a date"},
        FailureCase{"mode", sampleDocument(), 200, "1x", "3/23/2009",
                    "the mode \"1x\" is not a number from -32768 to 32767"}),
    [](const auto& info) { return std::string(info.param.name); });

// vendorId, mode and rowCount notify: a changed vendor or mode, every load for the rows (they
// are new, whatever their count), and a deleted row; a QProperty fed by the signal follows.
TEST_F(ControlTest, VendorModeAndRowCountNotify) {
    std::map<std::string, std::unique_ptr<QSignalSpy>> spies;
    for (const char* name : {"vendorId", "mode", "rowCount"}) {
        const QMetaProperty property =
            host->metaObject()->property(host->metaObject()->indexOfProperty(name));
        ASSERT_TRUE(property.hasNotifySignal()) << name;
        EXPECT_EQ(property.notifySignal().name().toStdString(), std::string(name) + "Changed");
        spies[name] = std::make_unique<QSignalSpy>(host.get(), property.notifySignal());
    }
    QProperty<int> rows;
    QObject::connect(host.get(), &VendorCommentWidget::rowCountChanged,
                     [&](int count) { rows = count; });
    QProperty<bool> empty;
    empty.setBinding([&] { return rows.value() == 0; });

    const struct {
        const char* name;
        std::function<void()> act;
        int vendor, mode, rowCount; // signals each step adds
    } steps[] = {
        {"firstLoad", [&] { load("1", "318"); }, 1, 1, 1},
        {"sameLoadAgain", [&] { load("1", "318"); }, 0, 0, 1},
        {"delete",
         [&] {
             selectRow(0);
             answers.push_back(platform::vbYes);
             setStatementAnswer("");
             click("cmdDelete");
         },
         0, 0, 1},
        {"otherVendorViewOnly", [&] { load("0", "V2"); }, 1, 1, 1},
        {"failedLoadOfTheSameVendor",
         [&] {
             setDocument("junk");
             load("0", "V2");
         },
         0, 0, 1},
    };
    int counts[3] = {0, 0, 0};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        counts[0] += step.vendor;
        counts[1] += step.mode;
        counts[2] += step.rowCount;
        EXPECT_EQ(spies["vendorId"]->count(), counts[0]);
        EXPECT_EQ(spies["mode"]->count(), counts[1]);
        EXPECT_EQ(spies["rowCount"]->count(), counts[2]);
        EXPECT_EQ(spies["vendorId"]->last().front().toString(), host->vendorId());
        EXPECT_EQ(spies["mode"]->last().front().value<VendorCommentWidget::Mode>(), host->mode());
        EXPECT_EQ(rows.value(), host->rowCount());
        EXPECT_EQ(empty.value(), host->rowCount() == 0);
    }
}
