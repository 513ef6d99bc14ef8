// The scripted host as an integrator meets it: a script on standard input, dumps on
// standard output, faults on standard error with the line number.

#include "ParamName.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using tavik::test::PrintTo;

namespace {

using tavik::test::PrintTo;

struct HostRun {
    int exitCode;
    std::vector<QJsonObject> dumps;
    QString out, err;
};

HostRun runScript(const QString& script) {
    QProcess host;
    host.start(HOST_BINARY, {"--script", "-"});
    host.write(script.toUtf8());
    host.closeWriteChannel();
    EXPECT_TRUE(host.waitForFinished(60000));
    HostRun run{host.exitCode(),
                {},
                QString::fromUtf8(host.readAllStandardOutput()),
                QString::fromUtf8(host.readAllStandardError())};
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts))
        run.dumps.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return run;
}

const char* document =
    "<VendorComments><LOC><Code>12</Code><Name>Dock 1</Name></LOC>"
    "<TYP><Code>4</Code><Name>General</Name></TYP>"
    "<GRID><VendorID>318</VendorID><CommentSequence>1</CommentSequence><Type>4</Type>"
    "<TypeName>General</TypeName><Location>12</Location><LocationName>Dock 1</LocationName>"
    "<Effective>3/1/2009</Effective><Expires></Expires><Comment>Call first</Comment></GRID>"
    "<GRID><VendorID>318</VendorID><CommentSequence>2</CommentSequence><Type>4</Type>"
    "<TypeName>General</TypeName><Location>12</Location><LocationName>Dock 1</LocationName>"
    "<Effective></Effective><Expires></Expires><Comment>Second</Comment></GRID>"
    "</VendorComments>";

class ScriptHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.http.Get("/VendorCommentLOAD.asp",
                        [](const httplib::Request&, httplib::Response& res) {
                            res.set_content(document, "text/xml");
                        });
        server.start();
    }
    QString loadLine(const char* mode = "1") const {
        return QString("[\"LoadData\", \"%1\", \"318\", \"%2\", \"7\", \"03/23/2009\", "
                       "\"3/23/2009\"]\n")
            .arg(QString::fromStdString(server.baseUrl()), mode);
    }
    TestServer server;
};

} // namespace

TEST_F(ScriptHostTest, DumpOfAFreshControl) {
    const HostRun run = runScript("# a fresh control\n\n[\"dump\"]\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.dumps.size(), 1u);
    const QJsonObject dump = run.dumps[0];
    const QJsonObject widgets = dump["widgets"].toObject();
    EXPECT_EQ(widgets["lblVersionNumber"].toObject()["caption"].toString(),
              "Version Number: 2.0.6");
    const QJsonArray columns = widgets["lstComments"].toObject()["columns"].toArray();
    ASSERT_EQ(columns.size(), 6);
    EXPECT_EQ(columns[0].toObject()["text"].toString(), "Comment");
    EXPECT_NEAR(columns[0].toObject()["width"].toDouble(), 4763.89, 0.005);
    EXPECT_EQ(columns[5].toObject()["width"].toDouble(), 0);
    EXPECT_EQ(widgets["txtComment"].toObject()["backColor"].toDouble(), 2147483663.0);
    EXPECT_FALSE(widgets["DateBox"].toArray()[0].toObject()["visible"].toBool());
    EXPECT_EQ(dump["state"].toObject()["mintMode"].toInt(), 0);
    EXPECT_EQ(dump["mousePointer"].toInt(), 0);
    EXPECT_TRUE(dump["messageBoxes"].toArray().isEmpty());
    // Keys come in the documented order.
    EXPECT_TRUE(run.out.startsWith("{\"state\":{\"mstrAction\":\"\",\"mintMode\":0,"));
}

TEST_F(ScriptHostTest, LoadDataFillsWhatTheDumpShows) {
    const HostRun run = runScript(loadLine() + "[\"dump\"]\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.dumps.size(), 1u);
    const QJsonObject state = run.dumps[0]["state"].toObject();
    EXPECT_EQ(state["mstrServerName"].toString().toStdString(), server.baseUrl());
    EXPECT_EQ(state["mstrServerDate"].toString(), "3/23/2009");
    const QJsonObject widgets = run.dumps[0]["widgets"].toObject();
    const QJsonArray rows = widgets["lstComments"].toObject()["rows"].toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toObject()["text"].toString(), "Call first");
    EXPECT_EQ(rows[0].toObject()["subItems"].toArray(),
              (QJsonArray{"General", "Dock 1", "3/1/2009", "", "1"}));
    EXPECT_EQ(widgets["cboType"].toObject()["entries"].toArray(),
              (QJsonArray{QJsonObject{{"text", "General"}, {"itemData", 4}}}));
    EXPECT_TRUE(widgets["cmdAdd"].toObject()["enabled"].toBool());
}

struct FaultCase {
    const char* name;
    const char* line;
};

class ScriptFaultTest : public ScriptHostTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ScriptFaultTest, StopsWithStatusTwoNamingTheLine) {
    const HostRun run =
        runScript(QString("[\"dump\"]\n# comment\n") + GetParam().line + "\n[\"dump\"]\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.dumps.size(), 1u); // the line before ran, the one after did not
    EXPECT_TRUE(run.err.startsWith("line 3:")) << run.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptFaultTest,
    ::testing::Values(FaultCase{"notJson", "[\"dump\""}, FaultCase{"notAnArray", "{\"a\": 1}"},
                      FaultCase{"unknownCommand", "[\"explode\"]"},
                      FaultCase{"tooManyArguments", "[\"dump\", 1]"},
                      FaultCase{"tooFewArguments", "[\"LoadData\", \"a\"]"},
                      FaultCase{"unknownWidget", "[\"click\", \"cmdLaunch\"]"},
                      FaultCase{"wrongArgumentType", "[\"select\", \"one\"]"},
                      FaultCase{"unknownWidgetInWhileWaiting",
                                "[\"whileWaiting\", [\"click\", \"nothing\"]]"},
                      FaultCase{"commandMissingInWhileCompleting", "[\"whileCompleting\"]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptHostTest, QueuedCommandsWithoutATransferAreReported) {
    const HostRun run =
        runScript("[\"whileWaiting\", [\"dump\"]]\n[\"whileCompleting\", [\"dump\"]]\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.dumps.empty());
    EXPECT_TRUE(run.err.contains("line 1: whileWaiting")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("line 2: whileCompleting")) << run.err.toStdString();
}

TEST_F(ScriptHostTest, ScreenshotWritesAPicture) {
    QTemporaryDir dir;
    const QString path = dir.filePath("control.png");
    const HostRun run =
        runScript(loadLine() + "[\"resize\", 800, 500]\n[\"screenshot\", \"" + path + "\"]\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 1000);
}

namespace {

// The reference server program on a fresh database, on a free loopback port.
class ReferenceServerProcess {
public:
    ReferenceServerProcess() {
        // Its request log, which nothing reads here, would fill the pipe and stall it.
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(SERVER_BINARY, {"--db", dir_.filePath("comments.db"), "--listen",
                                       "127.0.0.1:0", "--seed-demo"});
        EXPECT_TRUE(process_.waitForReadyRead(10000));
        url_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~ReferenceServerProcess() {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    QString url() const { return url_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString url_;
};

QStringList rowTexts(const QJsonObject& dump) {
    QStringList texts;
    for (const QJsonValue row :
         dump["widgets"].toObject()["lstComments"].toObject()["rows"].toArray())
        texts << row.toObject()["text"].toString() + "|" +
                     row.toObject()["subItems"].toArray()[4].toString();
    return texts;
}

} // namespace

TEST(ScriptedSession, AddsEditsAndDeletesOnTheReferenceServer) {
    ReferenceServerProcess server;
    const QString load =
        "[\"LoadData\", \"" + server.url() + "\", \"V9\", \"1\", \"\", \"\", \"12/8/2026\"]\n";
    const HostRun run = runScript(load +
                                  "[\"click\", \"cmdAdd\"]\n"
                                  "[\"type\", \"First note\"]\n"
                                  "[\"pick\", \"cboLocation\", 0]\n"
                                  "[\"pick\", \"cboType\", 0]\n"
                                  "[\"whileWaiting\", [\"click\", \"cmdAdd\"]]\n"
                                  "[\"whileWaiting\", [\"dump\"]]\n"
                                  "[\"click\", \"cmdAdd\"]\n"
                                  "[\"dump\"]\n"
                                  "[\"select\", 0]\n"
                                  "[\"click\", \"cmdEdit\"]\n"
                                  "[\"type\", \" edited\"]\n"
                                  "[\"click\", \"cmdAdd\"]\n"
                                  "[\"dump\"]\n" +
                                  load +
                                  "[\"dump\"]\n"
                                  "[\"select\", 0]\n"
                                  "[\"answer\", \"Yes\"]\n"
                                  "[\"click\", \"cmdDelete\"]\n"
                                  "[\"dump\"]\n" +
                                  load + "[\"dump\"]\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.dumps.size(), 6u) << run.out.toStdString();
    // Inside the wait: still adding, and the second Save click sent nothing.
    EXPECT_EQ(run.dumps[0]["state"].toObject()["mstrAction"].toString(), "Add");
    EXPECT_EQ(rowTexts(run.dumps[1]), QStringList{"First note|1"});
    EXPECT_EQ(rowTexts(run.dumps[2]), QStringList{"First note edited|1"});
    EXPECT_EQ(rowTexts(run.dumps[3]), QStringList{"First note edited|1"}); // as stored
    EXPECT_EQ(rowTexts(run.dumps[4]), QStringList{});
    EXPECT_EQ(rowTexts(run.dumps[5]), QStringList{}); // as stored
    EXPECT_EQ(run.dumps[4]["messageBoxes"].toArray().size(), 1);
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
}

// A key that moves the selection takes the editor with it, so Delete removes the row the
// list shows; and a Save clicked again while its answer is read adds nothing more.
TEST(ScriptedSession, KeysAndClicksInAnyOrderKeepTheStoredCommentsRight) {
    ReferenceServerProcess server;
    const QString load =
        "[\"LoadData\", \"" + server.url() + "\", \"318\", \"1\", \"\", \"\", \"12/8/2026\"]\n";
    const HostRun run = runScript(load +
                                  "[\"dump\"]\n"
                                  "[\"select\", 0]\n"
                                  "[\"key\", \"End\"]\n"
                                  "[\"answer\", \"Yes\"]\n"
                                  "[\"click\", \"cmdDelete\"]\n"
                                  "[\"wait\"]\n"
                                  "[\"dump\"]\n" +
                                  load +
                                  "[\"click\", \"cmdAdd\"]\n"
                                  "[\"type\", \"Only once\"]\n"
                                  "[\"pick\", \"cboLocation\", 0]\n"
                                  "[\"pick\", \"cboType\", 0]\n"
                                  "[\"whileCompleting\", [\"click\", \"cmdAdd\"]]\n"
                                  "[\"whileCompleting\", [\"dump\"]]\n"
                                  "[\"click\", \"cmdAdd\"]\n"
                                  "[\"wait\"]\n" +
                                  load + "[\"dump\"]\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.dumps.size(), 4u) << run.out.toStdString();
    QStringList stored = rowTexts(run.dumps[0]);
    const QString last = stored.takeLast();
    EXPECT_EQ(rowTexts(run.dumps[1]), stored); // the last row went, in the list...
    // ...and on the server, where the new comment was added exactly once.
    EXPECT_EQ(rowTexts(run.dumps[3]).count(last), 0);
    EXPECT_EQ(rowTexts(run.dumps[3]).filter("Only once|").size(), 1);
    // Inside the handling of the answer: still adding, the insert not yet applied.
    EXPECT_EQ(run.dumps[2]["state"].toObject()["mstrAction"].toString(), "Add");
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
}

// --version and --help answer without a display, so a packager's check or a terminal
// session over ssh can ask them.
TEST(HostProgram, AnswersVersionAndHelpWithoutADisplay) {
    for (const char* option : {"--version", "--help"}) {
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        host.setProcessEnvironment(environment);
        host.start(HOST_BINARY, {option});
        ASSERT_TRUE(host.waitForFinished(30000)) << option;
        EXPECT_EQ(host.exitCode(), 0) << option;
        const QString out = QString::fromUtf8(host.readAllStandardOutput());
        EXPECT_TRUE(out.contains(std::string(option) == "--version" ? "vendor-comment-host 2.0.6"
                                                                    : "--script"))
            << out.toStdString();
    }
}
