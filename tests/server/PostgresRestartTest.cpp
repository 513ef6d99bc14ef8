// PostgreSQL restarted under a running server page. VC_TEST_POSTGRES_CTL stops and starts the
// cluster of VC_TEST_POSTGRES, so this runs alone (RUN_SERIAL).

#include "ServerTestSupport.h"
#include "http/CommentServer.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// The postmaster of the cluster and its children, stopped (SIGSTOP) while this lives: the
// connections stay open and nothing answers, as when the database host hangs.
class FrozenCluster {
public:
    explicit FrozenCluster(const std::string& uri) {
        std::string dir = PgSession(uri).query("SHOW data_directory");
        dir.resize(dir.size() - 2); // "|\n"
        pid_t postmaster = 0;
        std::ifstream(dir + "/postmaster.pid") >> postmaster;
        pids_.push_back(postmaster);
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string pid, name, state;
            pid_t parent = 0;
            // The name is in parentheses and holds no spaces for the server's processes.
            if (stat >> pid >> name >> state >> parent && parent == postmaster) {
                pids_.push_back(std::stoi(pid));
            }
        }
        for (const pid_t pid : pids_) {
            kill(pid, SIGSTOP);
        }
    }
    ~FrozenCluster() {
        for (const pid_t pid : pids_) {
            kill(pid, SIGCONT);
        }
    }
    FrozenCluster(const FrozenCluster&) = delete;
    FrozenCluster& operator=(const FrozenCluster&) = delete;

private:
    std::vector<pid_t> pids_;
};

// A hung cluster holds no answer past the store's deadline: loads and inserts are answered
// 503 "nothing was changed", and no insert takes effect once the cluster runs again.
TEST(PostgresRestart, AHungClusterIsAnsweredByTheDeadlineAndChangesNothing) {
    std::unique_ptr<TestDatabase> db;
    try {
        db = std::make_unique<TestDatabase>(StoreKind::Postgres);
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    PostgresOptions options;
    options.connections = 2;
    options.answerTime = std::chrono::milliseconds(1500);
    auto store = openPostgresStore(db->location(), options);
    store->seed(demoData());
    CommentServer server(*store, nullptr);
    ASSERT_GT(server.bind("127.0.0.1", 0), 0);
    std::thread serving([&] { server.run(); });
    const std::string base = server.baseUrl().substr(0, server.baseUrl().size() - 1);
    const auto loadCount = [&] {
        const auto res = httplib::Client(base).Get(std::string(kPage) + "?Vendor=318");
        return res && res->status == 200 ? countOf(res->body, "<GRID>") : -1;
    };
    const std::string insert = "SQL=" + formEncode(insertBatch("318", 4, 12, "", "", "hung"));
    ASSERT_EQ(loadCount(), 4);
    {
        FrozenCluster frozen(db->location());
        std::vector<std::thread> requests;
        for (int i = 0; i < 6; ++i) {
            requests.emplace_back([&, i] {
                httplib::Client client(base);
                client.set_read_timeout(std::chrono::seconds(20));
                const auto start = std::chrono::steady_clock::now();
                const auto res =
                    i % 2 ? client.Get(std::string(kPage) + "?Vendor=318")
                          : client.Post(kPage, insert, "application/x-www-form-urlencoded");
                ASSERT_TRUE(res) << "no answer from a hung database";
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
                EXPECT_EQ(res->status, 503) << res->body;
                EXPECT_NE(res->body.find("nothing was changed: try again"), std::string::npos)
                    << res->body;
            });
        }
        for (auto& t : requests) {
            t.join();
        }
    }
    EXPECT_EQ(loadCount(), 4) << "an insert answered 'nothing was changed' took effect";
    const auto res = httplib::Client(base).Post(kPage, insert, "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(loadCount(), 5);

    server.stop();
    serving.join();
}

} // namespace
