// PostgreSQL restarted under a running server page. VC_TEST_POSTGRES_CTL stops and starts the
// cluster of VC_TEST_POSTGRES, so this runs alone (RUN_SERIAL).

#include "ServerTestSupport.h"
#include "http/CommentServer.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <thread>

using namespace vcserver;
using namespace vctest;

namespace {

const char* const kPage = "/VendorCommentLOAD.asp";

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(PostgresRestart, RequestsFailFastWhileDownAndSucceedOnceBack) {
    std::unique_ptr<TestDatabase> db;
    try {
        db = std::make_unique<TestDatabase>(StoreKind::Postgres);
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    const char* ctl = std::getenv("VC_TEST_POSTGRES_CTL");
    ASSERT_TRUE(ctl && *ctl) << "VC_TEST_POSTGRES_CTL is not set: it names a program taking "
                                "stop or start for the cluster (scripts/with-test-postgres)";
    const auto cluster = [&](const char* action) {
        return std::system((std::string(ctl) + " " + action + " >/dev/null").c_str());
    };

    auto store = openStore(db->location(), 4);
    store->seed(demoData());
    CommentServer server(*store, nullptr);
    ASSERT_GT(server.bind("127.0.0.1", 0), 0);
    std::thread serving([&] { server.run(); });
    httplib::Client client(server.baseUrl().substr(0, server.baseUrl().size() - 1));
    // Longer than the store's connect time limit: a hang shows as no answer.
    client.set_read_timeout(std::chrono::seconds(20));
    const auto loadCount = [&] {
        const auto res = client.Get(std::string(kPage) + "?Vendor=318");
        return res && res->status == 200 ? countOf(res->body, "<GRID>") : -1;
    };
    // Several connections in the pool, each of which the restart breaks.
    const auto useConnections = [&] {
        std::vector<std::thread> loads;
        for (int i = 0; i < 4; ++i) {
            loads.emplace_back([&] { EXPECT_EQ(loadCount(), 4); });
        }
        for (auto& t : loads) {
            t.join();
        }
    };

    // Broken idle connections are replaced without an error answer.
    useConnections();
    ASSERT_EQ(cluster("stop"), 0);
    ASSERT_EQ(cluster("start"), 0);
    EXPECT_EQ(loadCount(), 4);

    useConnections();
    ASSERT_EQ(cluster("stop"), 0);
    const std::string insert = "SQL=" + formEncode(insertBatch("318", 4, 12, "", "", "back"));
    for (int i = 0; i < 2; ++i) {
        auto res = client.Get(std::string(kPage) + "?Vendor=318");
        ASSERT_TRUE(res) << "no answer while the database is down";
        EXPECT_EQ(res->status, 500);
        EXPECT_FALSE(res->body.empty());
        EXPECT_EQ(res->body.find('\n'), std::string::npos) << res->body;
        res = client.Post(kPage, insert, "application/x-www-form-urlencoded");
        ASSERT_TRUE(res) << "no answer while the database is down";
        EXPECT_EQ(res->status, 500);
        EXPECT_EQ(res->body.find('\n'), std::string::npos) << res->body;
    }
    ASSERT_EQ(cluster("start"), 0);
    EXPECT_EQ(loadCount(), 4) << "nothing the failed inserts tried was kept";
    const auto res = client.Post(kPage, insert, "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(loadCount(), 5);

    server.stop();
    serving.join();
}

} // namespace
