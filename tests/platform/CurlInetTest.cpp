#include "platform/qt/CurlInet.h"
#include "LoopbackSockets.h"
#include "TestServer.h"
#include "platform/RuntimeError.h"
#include "platform/TestHooks.h"
#include "platform/XmlDocument.h"

#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace tavik::platform;
using namespace std::chrono_literals;

namespace {

const std::string formHeader = "Content-Type: application/x-www-form-urlencoded";

// A transfer component that records the states it raises.
struct Recorder {
    std::vector<int> states;
    std::unique_ptr<Inet> inet = qt::createCurlInet([this](int s) { states.push_back(s); });

    // Pumps events until the transfer has ended; false when it does not end in time.
    bool waitForEnd(int ms = 10000) {
        return QTest::qWaitFor([&] { return !inet->StillExecuting(); }, ms);
    }
    std::string body() {
        std::string all;
        for (std::string chunk; !(chunk = inet->GetChunk(1024, icString)).empty();) {
            EXPECT_LE(chunk.size(), 1024u);
            all += chunk;
        }
        return all;
    }
    int finalState() const {
        const auto finals = std::count_if(states.begin(), states.end(), [](int s) {
            return s == icError || s == icResponseCompleted;
        });
        EXPECT_EQ(finals, 1);
        return states.empty() ? icNone : states.back();
    }
};

struct ShortTimeLimits {
    ShortTimeLimits() { setInetTimeLimitsForTesting(300ms, 300ms); }
    ~ShortTimeLimits() { setInetTimeLimitsForTesting(inetConnectLimit, inetTransferLimit); }
};

class CurlInetTest : public ::testing::Test {
protected:
    TestServer server;
    std::string page = "VendorCommentLOAD.asp";

    std::string url() const { return server.baseUrl() + page; }
    void answer(std::string body) {
        server.http.Post("/" + page, [=](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "text/plain");
        });
    }
};

} // namespace

TEST_F(CurlInetTest, PostsExactlyTheBodyAndTheOneHeader) {
    std::multimap<std::string, std::string> headers;
    std::string method, path, body;
    server.http.Post("/" + page, [&](const httplib::Request& req, httplib::Response& res) {
        method = req.method, path = req.path, body = req.body;
        for (const auto& [name, value] : req.headers)
            if (name.find('_') == std::string::npos) // the server's own REMOTE_ADDR and such
                headers.emplace(name, value);
        res.set_content("", "text/plain");
    });
    server.start();

    Recorder r;
    const std::string sent = "SQL=x+%3D+%27y%27";
    r.inet->Execute(url(), "Post", sent, formHeader);
    EXPECT_TRUE(r.inet->StillExecuting());
    ASSERT_TRUE(r.waitForEnd());

    EXPECT_EQ(method, "POST");
    EXPECT_EQ(path, "/" + page);
    EXPECT_EQ(body, sent);
    std::vector<std::string> names;
    for (const auto& [name, value] : headers)
        names.push_back(name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Accept", "Content-Length", "Content-Type", "Host"}));
    EXPECT_EQ(headers.find("Content-Type")->second, "application/x-www-form-urlencoded");
    EXPECT_EQ(headers.find("Content-Length")->second, std::to_string(sent.size()));
    EXPECT_EQ(r.states, (std::vector<int>{icRequestSent, icResponseReceived, icResponseCompleted}));
    EXPECT_EQ(r.body(), "");
}

TEST(CurlInet, AnyAnswerCompletesAndReadsBackInChunks) {
    std::string longText;
    for (int i = 0; longText.size() < 5000; ++i)
        longText += "row " + std::to_string(i) + " \u00E9\u20AC\u4E2D\n";
    const struct {
        int status;
        std::string sent, read;
    } cases[] = {
        {200, longText, longText},                                     // joined across chunks
        {500, "", ""},                                                 // the status is no failure
        {200, "Invalid caf\xE9 \x80 5", "Invalid caf\u00E9 \u20AC 5"}, // Windows-1252
    };
    TestServer server;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        server.http.Post("/" + std::to_string(i),
                         [&, i](const httplib::Request&, httplib::Response& res) {
                             res.status = cases[i].status;
                             res.set_content(cases[i].sent, "text/plain");
                         });
    server.start();

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        Recorder r;
        r.inet->Execute(server.baseUrl() + std::to_string(i), "Post", "SQL=", formHeader);
        ASSERT_TRUE(r.waitForEnd());
        EXPECT_EQ(r.finalState(), icResponseCompleted);
        EXPECT_EQ(r.inet->ResponseCode(), cases[i].status);
        EXPECT_EQ(r.body(), cases[i].read);
        EXPECT_EQ(r.inet->GetChunk(1024), "");
    }
}

TEST(CurlInet, FailedTransfersEndInError) {
    const ShortTimeLimits limits;
    const LoopbackSocket refusing(LoopbackSocket::Refusing);
    const LoopbackSocket silent(LoopbackSocket::Silent);
    const struct {
        std::string url;
        long code;
        const char* info;
    } cases[] = {{refusing.url("VendorCommentLOAD.asp"), 7, "Connection refused"},
                 {silent.url("x"), 28, "Timeout was reached"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Recorder r;
        r.inet->Execute(c.url, "Post", "SQL=", formHeader);
        ASSERT_TRUE(r.waitForEnd(5000));
        EXPECT_EQ(r.finalState(), icError);
        EXPECT_EQ(r.inet->ResponseCode(), c.code);
        EXPECT_EQ(r.inet->ResponseInfo(), c.info);
        EXPECT_EQ(r.inet->GetChunk(1024), "");
    }
}

TEST(CurlInet, CancelDeliversNothingMore) {
    const LoopbackSocket silent(LoopbackSocket::Silent);
    Recorder r;
    r.inet->Execute(silent.url(), "Post", "SQL=", formHeader);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !r.states.empty(); }, 2000)); // the request is out
    r.inet->Cancel();
    EXPECT_FALSE(r.inet->StillExecuting());
    const auto before = r.states;
    QTest::qWait(200);
    EXPECT_EQ(r.states, before);
    r.inet->Cancel(); // harmless when idle
}

TEST_F(CurlInetTest, CancelDropsAFinalStateNotYetDelivered) {
    answer("done");
    server.start();

    Recorder r;
    r.inet->Execute(url(), "Post", "SQL=", formHeader);
    // The transfer ends on its worker while no event is pumped here, so its states wait in
    // the queue; Cancel must keep them from being raised.
    for (int i = 0; i < 100 && server.requests().empty(); ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    r.inet->Cancel();
    QTest::qWait(200);
    EXPECT_TRUE(r.states.empty());
    EXPECT_FALSE(r.inet->StillExecuting());

    // The component is usable again afterwards.
    r.inet->Execute(url(), "Post", "SQL=", formHeader);
    ASSERT_TRUE(r.waitForEnd());
    EXPECT_EQ(r.body(), "done");
}

// Statements and the loads between them go over one connection, kept open, as long as a
// transfer component lives.
TEST_F(CurlInetTest, StatementsAndLoadsShareAConnection) {
    std::mutex mutex;
    std::vector<int> ports;
    const auto record = [&](const httplib::Request& req) {
        const std::lock_guard lock(mutex);
        ports.push_back(req.remote_port);
    };
    server.http.set_keep_alive_max_count(100);
    server.http.Post("/" + page, [&](const httplib::Request& req, httplib::Response& res) {
        record(req);
        res.set_content("", "text/plain");
    });
    server.http.Get("/" + page, [&](const httplib::Request& req, httplib::Response& res) {
        record(req);
        res.set_content("<r/>", "text/xml");
    });
    server.start();

    Recorder r;
    XmlDocument doc;
    r.inet->Execute(url(), "Post", "SQL=", formHeader);
    ASSERT_TRUE(r.waitForEnd());
    ASSERT_TRUE(doc.load(url()));
    r.inet->Execute(url(), "Post", "SQL=", formHeader);
    ASSERT_TRUE(r.waitForEnd());
    ASSERT_TRUE(doc.load(url()));
    const std::lock_guard lock(mutex);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), ports[0]), 4);
}

TEST(CurlInet, RefusesRequestsItCannotStart) {
    Recorder r;
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/x", "file:///etc/hostname"}) {
        SCOPED_TRACE(url);
        EXPECT_THROW(r.inet->Execute(url, "Post", "SQL=", formHeader), RuntimeError);
        EXPECT_FALSE(r.inet->StillExecuting());
    }
    EXPECT_THROW(r.inet->Execute("http://127.0.0.1:1/", "Delete", "", ""), RuntimeError);

    const LoopbackSocket silent(LoopbackSocket::Silent);
    r.inet->Execute(silent.url(), "Post", "SQL=", formHeader);
    EXPECT_THROW(r.inet->Execute(silent.url(), "Post", "SQL=", formHeader), RuntimeError);
    // Destroying the component with the request in flight ends it without a state.
    r.inet.reset();
    QTest::qWait(100);
    EXPECT_TRUE(std::none_of(r.states.begin(), r.states.end(),
                             [](int s) { return s == icError || s == icResponseCompleted; }));
}
