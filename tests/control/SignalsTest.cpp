// The widget's signals tell the host what the clerk saw: once each, on the paths that
// emit them, and nothing else.

#include "ControlFixture.h"
#include "ParamName.h"

#include "platform/MessageBox.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

using tavik::test::PrintTo;

using namespace tavik;

namespace {

using tavik::test::PrintTo;

struct SignalCase {
    const char* name;
    std::function<void(ControlTest&)> act;
    std::map<std::string, int> emitted; // signal name: count
    std::string argument = "";          // of the change or failure signal
};

class SignalTest : public ControlTest, public ::testing::WithParamInterface<SignalCase> {
public:
    void enterComment() {
        click("cmdAdd");
        type("note");
        pick("cboLocation", 0);
        pick("cboType", 0);
    }
    void selectAndAnswer(const std::string& body, int status = 200) {
        selectRow(0);
        setStatementAnswer(body, status);
    }
};

} // namespace

TEST_P(SignalTest, FireOnceEachOnTheirPaths) {
    load("1");
    std::map<std::string, std::unique_ptr<QSignalSpy>> spies;
    const auto spy = [&](const char* name, auto signal) {
        spies[name] = std::make_unique<QSignalSpy>(host.get(), signal);
    };
    spy("loaded", &VendorCommentWidget::loaded);
    spy("loadFailed", &VendorCommentWidget::loadFailed);
    spy("commentAdded", &VendorCommentWidget::commentAdded);
    spy("commentUpdated", &VendorCommentWidget::commentUpdated);
    spy("commentDeleted", &VendorCommentWidget::commentDeleted);
    spy("statementRefused", &VendorCommentWidget::statementRefused);
    spy("transferFailed", &VendorCommentWidget::transferFailed);
    spy("editingChanged", &VendorCommentWidget::editingChanged);
    GetParam().act(*this);
    // loadData returns before its signal comes.
    (void)QTest::qWaitFor([&] {
        return std::all_of(GetParam().emitted.begin(), GetParam().emitted.end(),
                           [&](const auto& e) { return spies[e.first]->count() >= e.second; });
    });
    for (const auto& [name, spy] : spies) {
        const auto expected = GetParam().emitted.find(name);
        EXPECT_EQ(spy->count(), expected == GetParam().emitted.end() ? 0 : expected->second)
            << name;
    }
    if (spies["loaded"]->count() == 1) {
        EXPECT_EQ(spies["loaded"]->front().front().toInt(), host->rowCount());
    }
    if (spies["statementRefused"]->count() == 1) {
        EXPECT_EQ(spies["statementRefused"]->front().front().toString(), "Row is locked");
    }
    if (spies["loadFailed"]->count() == 1) {
        EXPECT_TRUE(spies["loadFailed"]->front().front().toString().contains("127.0.0.1"));
    }
    // The changed comment's key, and why a transfer failed.
    for (const char* name :
         {"commentAdded", "commentUpdated", "commentDeleted", "transferFailed"}) {
        if (spies[name]->count() == 1) {
            EXPECT_EQ(spies[name]->front().front().toString().toStdString(), GetParam().argument)
                << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SignalTest,
    ::testing::Values(SignalCase{"loaded",
                                 [](ControlTest& t) {
                                     t.host->loadData(
                                         QUrl(QString::fromStdString(t.server.baseUrl())), "318",
                                         VendorCommentWidget::ReadWrite, "7", "03/23/2009",
                                         QDate(2009, 3, 23));
                                 },
                                 {{"loaded", 1}}},
                      SignalCase{"loadedFromABaseWithoutSlash",
                                 [](ControlTest& t) {
                                     std::string base = t.server.baseUrl();
                                     base.pop_back();
                                     t.host->loadData(QUrl(QString::fromStdString(base)), "318",
                                                      VendorCommentWidget::ReadWrite, "7",
                                                      "03/23/2009", QDate(2009, 3, 23));
                                 },
                                 {{"loaded", 1}}},
                      SignalCase{"loadFailedOnADeadServer",
                                 [](ControlTest& t) {
                                     t.host->loadData(QUrl("http://127.0.0.1:1/"), "318",
                                                      VendorCommentWidget::ViewOnly, "", "",
                                                      QDate(2009, 3, 23));
                                 },
                                 {{"loadFailed", 1}}},
                      SignalCase{"added",
                                 [](ControlTest& t) {
                                     auto& s = static_cast<SignalTest&>(t);
                                     s.enterComment();
                                     t.setStatementAnswer("");
                                     t.click("cmdAdd");
                                 },
                                 {{"commentAdded", 1}, {"loaded", 1}, {"editingChanged", 2}}},
                      SignalCase{"addedNamesTheNewRow",
                                 [](ControlTest& t) {
                                     auto& s = static_cast<SignalTest&>(t);
                                     s.enterComment();
                                     t.setStatementAnswer("");
                                     t.setDocument(LoadDocument()
                                                       .loc("12", "Dock 1")
                                                       .typ("4", "General")
                                                       .grid("1", "General", "Dock 1", "", "", "a")
                                                       .grid("9", "General", "Dock 1", "", "", "b")
                                                       .str());
                                     t.click("cmdAdd");
                                 },
                                 {{"commentAdded", 1}, {"loaded", 1}, {"editingChanged", 2}},
                                 "9"},
                      SignalCase{"updated",
                                 [](ControlTest& t) {
                                     static_cast<SignalTest&>(t).selectAndAnswer("");
                                     t.click("cmdEdit");
                                     t.type("!");
                                     t.click("cmdAdd");
                                 },
                                 {{"commentUpdated", 1}, {"editingChanged", 2}},
                                 "1"},
                      SignalCase{"deleted",
                                 [](ControlTest& t) {
                                     static_cast<SignalTest&>(t).selectAndAnswer("");
                                     t.answers.push_back(platform::vbYes);
                                     t.click("cmdDelete");
                                 },
                                 {{"commentDeleted", 1}},
                                 "1"},
                      SignalCase{"refused",
                                 [](ControlTest& t) {
                                     static_cast<SignalTest&>(t).selectAndAnswer("Row is locked",
                                                                                 400);
                                     t.answers.push_back(platform::vbYes);
                                     t.click("cmdDelete");
                                 },
                                 {{"statementRefused", 1}}},
                      SignalCase{"failed",
                                 [](ControlTest& t) {
                                     auto& s = static_cast<SignalTest&>(t);
                                     s.enterComment();
                                     t.setStatementAnswer("", 500);
                                     t.click("cmdAdd");
                                 },
                                 {{"transferFailed", 1}, {"editingChanged", 1}},
                                 "HTTP status 500"}),
    [](const auto& info) { return std::string(info.param.name); });
