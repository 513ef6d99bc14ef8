// The whole path: the control adds, edits and deletes comments on the reference server
// page over a real database, and a fresh load shows what was stored; also signed in, with
// credentials in the server prefix or in ~/.netrc, and over HTTPS.

#include "TestCertificate.h"
#include "access/PasswordHash.h"
#include "control/VendorComment.h"
#include "http/CommentServer.h"
#include "platform/MessageBox.h"
#include "platform/qt/QtForm.h"
#include "shell/gestures/Gestures.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAuthenticator>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

using namespace tavik;

namespace {

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store = vcserver::openSqliteStore(dir.filePath("comments.db").toStdString());
        vcserver::DemoData lookups;
        lookups.locations = {{12, "Dock 1"}, {14, "Office"}};
        lookups.types = {{4, "General"}, {5, "Shipping"}};
        store->seed(lookups);
        platform::setMessageBoxHandler(
            [this](const std::string& prompt, int style, const std::string&) {
                boxes.push_back(prompt);
                return (style & 7) == platform::vbYesNo ? platform::vbYes : platform::vbOK;
            });
        startServer();
        showControl();
        load();
    }

    void TearDown() override {
        control.reset();
        platform::setMessageBoxHandler({});
        stopServer();
    }

    void startServer(const vcserver::ServerOptions& options = {}) {
        server = std::make_unique<vcserver::CommentServer>(*store, nullptr, 4, options);
        ASSERT_GT(server->bind("127.0.0.1", 0), 0);
        serving = std::thread([this] { server->run(); });
    }
    void stopServer() {
        if (serving.joinable()) {
            server->stop();
            serving.join();
        }
    }
    void showControl() {
        control = std::make_unique<VendorComment>();
        QWidget* window = platform::qt::widgetOf(control->form());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }

    void load(const std::string& prefix = {}) {
        control->LoadData(prefix.empty() ? server->baseUrl() : prefix, "V7", "1", "", "",
                          "12/8/2026");
    }
    void click(const std::string& name) { gestures::click(control->form(), name); }
    void selectRow(int row) { gestures::selectRow(control->form(), row); }
    void type(const QString& text) { gestures::type(control->form(), text); }
    void pick(const std::string& combo, int index) {
        gestures::pick(control->form(), combo, index);
    }
    std::vector<std::string> row(int index) {
        const platform::ListView& list = control->form().lstComments();
        std::vector<std::string> cells{list.itemText(index)};
        for (int sub = 1; sub <= 5; ++sub)
            cells.push_back(list.subItem(index, sub));
        return cells;
    }
    void add(const QString& comment, int location, int type) {
        click("cmdAdd");
        this->type(comment);
        pick("cboLocation", location);
        pick("cboType", type);
        click("cmdAdd");
    }

    QTemporaryDir dir;
    std::unique_ptr<vcserver::CommentStore> store;
    std::unique_ptr<vcserver::CommentServer> server;
    std::thread serving;
    std::unique_ptr<VendorComment> control;
    std::vector<std::string> boxes;
};

} // namespace

TEST_F(EndToEndTest, AddEditDeleteAreStoredAsShown) {
    add("Call first, don't be late", 0, 0);
    add("Second", 1, 1);
    ASSERT_EQ(control->form().lstComments().count(), 2) << (boxes.empty() ? "" : boxes[0]);
    EXPECT_EQ(row(0), (std::vector<std::string>{"Call first, don`t be late", "General", "Dock 1",
                                                "", "", "1"}));
    EXPECT_EQ(row(1)[5], "2");

    selectRow(0);
    click("cmdEdit");
    type(" today");
    click("chkDate(0)");
    click("cmdAdd");
    const auto edited = row(0);
    EXPECT_EQ(edited[0], "Call first, don`t be late today");
    EXPECT_EQ(edited[3], "Dec 08, 2026");
    load();
    EXPECT_EQ(row(0), (std::vector<std::string>{"Call first, don`t be late today", "General",
                                                "Dock 1", "12/8/2026", "", "1"}));

    selectRow(1);
    click("cmdDelete");
    EXPECT_EQ(control->form().lstComments().count(), 1);
    load();
    ASSERT_EQ(control->form().lstComments().count(), 1);
    EXPECT_EQ(row(0)[5], "1");
    EXPECT_EQ(boxes, (std::vector<std::string>{"Do you want to delete the selected comment"}));
}

TEST_F(EndToEndTest, RefusedStatementIsShownAndTheEditorKeepsTheComment) {
    click("cmdAdd");
    type("note");
    pick("cboLocation", 0);
    pick("cboType", 0);
    // A code the lookup tables do not hold is refused by the page.
    control->form().cboType().setItemData(0, 999);
    click("cmdAdd");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].ends_with("   Unsuccessful attempt ")) << boxes[0];
    EXPECT_EQ(control->state().mstrAction, "Add");
    EXPECT_EQ(control->form().txtComment().text(), "note");
    EXPECT_EQ(control->form().lstComments().count(), 0);
}

// After any key that moves the selection, Edit and Delete act on the row the list shows, on
// the server as in the list.
TEST_F(EndToEndTest, EditAndDeleteAfterAKeyActOnTheRowShown) {
    for (const char* comment : {"Alpha", "Bravo", "Charlie", "Delta", "Echo"})
        add(comment, 0, 0);
    const auto texts = [this] {
        std::vector<std::string> shown;
        for (int i = 0; i < control->form().lstComments().count(); ++i)
            shown.push_back(row(i)[0]);
        return shown;
    };
    const struct {
        int from;
        Qt::Key key;
        const char* goes;
    } deletes[] = {
        {0, Qt::Key_End, "Echo"}, {0, Qt::Key_C, "Charlie"}, {0, Qt::Key_PageDown, "Delta"}};
    for (const auto& d : deletes) {
        SCOPED_TRACE(d.goes);
        selectRow(d.from);
        gestures::pressKey(control->form(), d.key);
        click("cmdDelete");
        const auto shown = texts();
        load();
        EXPECT_EQ(texts(), shown);
        EXPECT_EQ(std::count(shown.begin(), shown.end(), d.goes), 0);
    }

    selectRow(1);
    gestures::pressKey(control->form(), Qt::Key_Home);
    click("cmdEdit");
    type(" edited");
    click("cmdAdd");
    load();
    EXPECT_EQ(texts(), (std::vector<std::string>{"Alpha edited", "Bravo"}));
}

namespace {

// Sets an environment variable for the life of the object, as the user's session would.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

using SignedInTest = EndToEndTest;

} // namespace

// A page with users alice (write) and bob (read): the control signs in with what libcurl
// finds, in the server prefix or in ~/.netrc, over HTTP or over HTTPS trusting the test's CA
// through CURL_CA_BUNDLE. A load that is refused is a failed load (nothing shown, no box); a
// statement refused for the role shows the page's text, one refused for the credential (a
// 401 without text) is a failed transfer.
TEST_F(SignedInTest, LoadsAndSavesWithTheCredentialsLibcurlFinds) {
    stopServer();
    const std::string folder = dir.path().toStdString();
    const auto users = std::filesystem::path(folder) / "users";
    const auto setPassword = [&](const std::string& alicePassword) {
        vcserver::UsersFile file;
        file.put({"alice", vcserver::Role::Write, vcserver::hashPassword(alicePassword)});
        file.put({"bob", vcserver::Role::Read, vcserver::hashPassword("Bob-Secret-2")});
        file.save(users);
    };
    const vctest::TestCertificate ca = vctest::makeTestCertificate(folder);
    std::ofstream(std::filesystem::path(folder) / ".netrc")
        << "machine 127.0.0.1 login alice password Alice-Secret-1\n";

    enum class Via { Prefix, Netrc };
    const struct {
        const char* name;
        bool https;
        bool trustTheCa;
        Via via;
        std::string user; // name:password, in the prefix
        bool passwordChangedBeforeSave;
        bool loads;
        std::vector<std::string> boxes; // after an add
    } cases[] = {
        {"PrefixCredentials", false, false, Via::Prefix, "alice:Alice-Secret-1", false, true, {}},
        {"Netrc", false, false, Via::Netrc, "", false, true, {}},
        {"HttpsWithTheCa", true, true, Via::Netrc, "", false, true, {}},
        {"HttpsWithoutTheCa", true, false, Via::Prefix, "alice:Alice-Secret-1", false, false, {}},
        {"WrongPassword", false, false, Via::Prefix, "alice:Wrong-Secret-3", false, false, {}},
        {"ReadUser",
         false,
         false,
         Via::Prefix,
         "bob:Bob-Secret-2",
         false,
         true,
         {"User bob may load comments but not change them: that needs the write role."
          "   Unsuccessful attempt "}},
        {"PasswordChangedBeforeSave",
         false,
         false,
         Via::Prefix,
         "alice:Alice-Secret-1",
         true,
         true,
         {" Error !  "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setPassword("Alice-Secret-1");
        vcserver::ServerOptions options;
        options.users = std::make_shared<vcserver::Authenticator>(users);
        if (c.https)
            options.tls = vcserver::readTlsFiles(ca.certificate, ca.key);
        startServer(options);
        const ScopedEnv home("HOME", c.via == Via::Netrc ? folder : folder + "/elsewhere");
        const ScopedEnv bundle(
            "CURL_CA_BUNDLE", c.trustTheCa ? std::optional(ca.certificate.string()) : std::nullopt);
        std::string prefix = server->baseUrl();
        if (!c.user.empty())
            prefix.insert(prefix.find("//") + 2, c.user + "@");
        boxes.clear();
        showControl();

        load(prefix);
        EXPECT_EQ(control->form().cboType().listCount(), c.loads ? 2 : 0);
        if (c.loads) {
            if (c.passwordChangedBeforeSave)
                setPassword("Alice-Secret-4");
            const int before = control->form().lstComments().count();
            add(("note " + std::string(c.name)).c_str(), 0, 0);
            const bool saved = c.boxes.empty();
            EXPECT_EQ(control->form().lstComments().count(), before + (saved ? 1 : 0));
        }
        EXPECT_EQ(boxes, c.boxes);
        control.reset();
        stopServer();
    }
    // Every save that was shown as saved is stored.
    std::size_t stored = 0;
    for (const auto& row : store->load("V7").comments)
        stored += row.comment.starts_with("note ") ? 1 : 0;
    EXPECT_EQ(stored, 3u);
}

// The host signs the control in itself: ahead with setCredentials, or when asked through
// authenticationRequired, which a 401 raises once per load or statement before the request
// goes again. The password never shows in a reason, a box or a log line.
TEST_F(SignedInTest, TheHostSignsInThroughTheWidget) {
    stopServer();
    const auto users = std::filesystem::path(dir.path().toStdString()) / "users";
    const auto setPassword = [&](const std::string& password) {
        vcserver::UsersFile file;
        file.put({"alice", vcserver::Role::Write, vcserver::hashPassword(password)});
        file.save(users);
    };
    static QStringList logged;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { logged << text; });
    const ScopedEnv home("HOME", dir.path().toStdString() + "/elsewhere"); // no ~/.netrc

    const struct {
        const char* name;
        QString ahead; // setCredentials' password, if any
        std::vector<QString>
            answers;               // what the handler fills in, one per request; none: no handler
        QString changedBeforeSave; // the page's new password, if any
        int asked;                 // times authenticationRequired came
        std::string failure;       // of the load; empty when it loads
        bool saved;
    } cases[] = {
        {"Ahead", "Alice-Secret-1", {}, "", 0, "", true},
        {"NoCredentialsNoHandler", "", {}, "", 0, "sign-in needed (HTTP 401)", false},
        {"Asked", "", {"Alice-Secret-1"}, "", 1, "", true},
        {"WrongAheadRightWhenAsked", "Wrong-Secret-9", {"Alice-Secret-1"}, "", 1, "", true},
        {"WrongTwice",
         "Wrong-Secret-9",
         {"Wrong-Secret-8"},
         "",
         1,
         "sign-in refused (HTTP 401)",
         false},
        {"AskedAgainForTheStatement",
         "Alice-Secret-1",
         {"Alice-Secret-2"},
         "Alice-Secret-2",
         1,
         "",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setPassword("Alice-Secret-1");
        vcserver::ServerOptions options;
        options.users = std::make_shared<vcserver::Authenticator>(users);
        startServer(options);
        boxes.clear();
        VendorCommentWidget widget;
        widget.show();
        QSignalSpy loaded(&widget, &VendorCommentWidget::loaded);
        QSignalSpy failed(&widget, &VendorCommentWidget::loadFailed);
        QSignalSpy added(&widget, &VendorCommentWidget::commentAdded);
        if (!c.ahead.isEmpty())
            widget.setCredentials("alice", c.ahead);
        int asked = 0;
        if (!c.answers.empty()) {
            QObject::connect(&widget, &VendorCommentWidget::authenticationRequired,
                             [&](QAuthenticator* authenticator) {
                                 authenticator->setUser("alice");
                                 authenticator->setPassword(c.answers.at(asked++));
                             });
        }
        widget.loadData(QUrl(QString::fromStdString(server->baseUrl())), "V7",
                        VendorCommentWidget::ReadWrite, "", "", QDate(2026, 12, 8));
        ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.count() + failed.count() == 1; }));
        EXPECT_EQ(failed.count() ? failed.front().front().toString().toStdString() : "", c.failure);
        if (c.failure.empty()) {
            if (!c.changedBeforeSave.isEmpty())
                setPassword(c.changedBeforeSave.toStdString());
            VendorComment& inside = controlOf(widget);
            QTest::mouseClick(platform::qt::findWidget(inside.form(), "cmdAdd"), Qt::LeftButton);
            inside.form().txtComment().setText("signed in");
            inside.form().cboLocation().setListIndex(0);
            inside.form().cboType().setListIndex(0);
            QTest::mouseClick(platform::qt::findWidget(inside.form(), "cmdAdd"), Qt::LeftButton);
        }
        EXPECT_EQ(added.count(), c.saved ? 1 : 0);
        EXPECT_EQ(asked, c.asked);
        EXPECT_TRUE(boxes.empty());
        stopServer();
    }
    qInstallMessageHandler(previous);
    for (const QString& line : logged)
        EXPECT_FALSE(line.contains("Secret")) << line.toStdString();
}
