// Kept load documents: never older than an acknowledged change, whichever process or
// operator's command made it; bounded under made-up vendor keys; 304 on a matching tag.

#include "ServerProcess.h"
#include "ServerTestSupport.h"
#include "http/CommentServer.h"
#include "http/DocumentCache.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <mutex>
#include <set>
#include <thread>

using namespace vcserver;
using namespace vctest;

namespace {

const char* const kPage = "/VendorCommentLOAD.asp";
const char* const kFormType = "application/x-www-form-urlencoded";

httplib::Client clientOf(const std::string& baseUrl) {
    return httplib::Client(baseUrl.substr(0, baseUrl.size() - 1));
}

std::string loadBody(httplib::Client& client, const std::string& vendor) {
    const auto res = client.Get(std::string(kPage) + "?Vendor=" + vendor);
    return res && res->status == 200 ? res->body : "";
}

int status(const httplib::Result& res) {
    return res ? res->status : -1;
}

// The operator's command beside a running server; its exit status.
int runCommand(std::vector<std::string> args) {
    args.insert(args.begin(), VC_SERVER_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int result = -1;
    if (posix_spawn(&pid, VC_SERVER_PROGRAM, &actions, nullptr, argv.data(), environ) == 0) {
        int s = 0;
        waitpid(pid, &s, 0);
        result = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

// Clients alternate: a statement through one process, then a load through the other. Each
// load must show every change acknowledged before it started, though both processes keep
// documents.
TEST(KeptDocuments, ReadsSeeEveryAcknowledgedWriteAcrossTwoProcesses) {
    const auto db = makeDatabase(StoreKind::Postgres);
    ASSERT_TRUE(db);
    TempDir dir;
    std::vector<std::unique_ptr<ServerProcess>> servers;
    std::vector<std::string> urls;
    for (int i = 0; i < 2; ++i) {
        const auto errors = dir.path() / ("stderr" + std::to_string(i) + ".txt");
        servers.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db", db->location(), "--listen", "127.0.0.1:0",
                                     "--seed-demo"},
            errors));
        urls.push_back(servers.back()->firstLine());
        ASSERT_EQ(urls.back().rfind("http://", 0), 0u);
    }
    constexpr int kClients = 4, kRounds = 12;
    std::mutex mutex;
    std::set<std::string> acknowledged; // comments that must show
    std::set<std::string> removed;      // comments that must not
    std::vector<std::string> faults;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            auto writer = clientOf(urls[c % 2]);
            auto reader = clientOf(urls[(c + 1) % 2]);
            for (int i = 0; i < kRounds; ++i) {
                const std::string text = "c" + std::to_string(c) + "r" + std::to_string(i);
                const auto res = writer.Post(
                    kPage, "SQL=" + formEncode(insertBatch("RW", 1, 1, "", "", text)), kFormType);
                if (status(res) != 200) {
                    const std::lock_guard lock(mutex);
                    faults.push_back("insert " + text + " answered " + std::to_string(status(res)));
                    continue;
                }
                std::set<std::string> expected, gone;
                {
                    const std::lock_guard lock(mutex);
                    acknowledged.insert(text);
                    expected = acknowledged;
                    gone = removed;
                }
                const std::string body = loadBody(reader, "RW");
                for (const auto& t : expected) {
                    if (body.find("<Comment>" + t + "</Comment>") == std::string::npos) {
                        const std::lock_guard lock(mutex);
                        faults.push_back("a load after " + text + " misses " + t);
                    }
                }
                for (const auto& t : gone) {
                    if (body.find("<Comment>" + t + "</Comment>") != std::string::npos) {
                        const std::lock_guard lock(mutex);
                        faults.push_back("a load after " + text + " still shows " + t);
                    }
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(faults, std::vector<std::string>{});

    // An update through one process and a delete through the other.
    auto first = clientOf(urls[0]), second = clientOf(urls[1]);
    loadBody(first, "RW");
    loadBody(second, "RW");
    ASSERT_EQ(status(second.Post(
                  kPage, "SQL=" + formEncode(updateStatement("RW", 1, 1, 1, "", "", "rewritten")),
                  kFormType)),
              200);
    EXPECT_NE(loadBody(first, "RW").find("<Comment>rewritten</Comment>"), std::string::npos);
    ASSERT_EQ(status(first.Post(kPage, "SQL=" + formEncode(deleteStatement("RW", 1)), kFormType)),
              200);
    EXPECT_EQ(loadBody(second, "RW").find("<Comment>rewritten</Comment>"), std::string::npos);
}

// The operator's commands write the SQLite file beside the server; its next load shows them.
TEST(KeptDocuments, OperatorsCommandsOnSqliteShowAtTheNextLoad) {
    TempDir dir;
    const std::string file = (dir.path() / "comments.db").string();
    ServerProcess server({"--db", file, "--listen", "127.0.0.1:0", "--seed-demo"},
                         dir.path() / "stderr.txt");
    const std::string url = server.firstLine();
    ASSERT_EQ(url.rfind("http://", 0), 0u);
    auto client = clientOf(url);
    ASSERT_NE(loadBody(client, "V100").find("<Name>Shipping</Name>"), std::string::npos);
    loadBody(client, "V100");

    ASSERT_EQ(runCommand({"lookup", "rename", "--db", file, "type", "4", "Freight"}), 0);
    EXPECT_NE(loadBody(client, "V100").find("<TypeName>Freight</TypeName>"), std::string::npos);

    ASSERT_EQ(runCommand({"lookup", "add", "--db", file, "location", "40", "Roof"}), 0);
    EXPECT_NE(loadBody(client, "V100").find("<Name>Roof</Name>"), std::string::npos);

    const auto csv = dir.path() / "more.csv";
    std::ofstream(csv, std::ios::binary)
        << "VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,"
           "RecordLastUpdated\r\nV100,,1,1,,,imported beside the server,\r\n";
    ASSERT_EQ(runCommand({"import", "--db", file, csv.string()}), 0);
    EXPECT_NE(loadBody(client, "V100").find("<Comment>imported beside the server</Comment>"),
              std::string::npos);

    ASSERT_EQ(runCommand({"lookup", "remove", "--db", file, "type", "1", "--force"}), 0);
    EXPECT_EQ(loadBody(client, "V100").find("imported beside the server"), std::string::npos);
}

class KeptDocumentsServed : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TestDatabase>(StoreKind::Sqlite);
        store_ = openStore(db_->location(), 4);
        store_->seed(demoData());
    }

    void serve(std::size_t cacheBytes) {
        ServerOptions options;
        options.cacheBytes = cacheBytes;
        server_ = std::make_unique<RunningServer>(*store_, nullptr, 4, options);
        ASSERT_GT(server_->port(), 0);
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", server_->port()); }

    std::string metric(const std::string& name) {
        const auto res = client().Get("/metrics");
        const std::string text = res ? res->body : "";
        const auto at = text.find("\n" + name + " ");
        return at == std::string::npos
                   ? ""
                   : text.substr(at + name.size() + 2,
                                 text.find('\n', at + 1) - at - name.size() - 2);
    }

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<CommentStore> store_;
    std::unique_ptr<RunningServer> server_;
};

// Made-up keys are answered as before (no comments) and keep nothing; real documents stay
// within the budget, the least recently used going first.
TEST_F(KeptDocumentsServed, BudgetHoldsUnderAFloodOfMadeUpVendors) {
    serve(4 * 1024);
    auto c = client();
    for (int i = 0; i < 500; ++i) {
        const auto res = c.Get(std::string(kPage) + "?Vendor=nobody" + std::to_string(i));
        ASSERT_EQ(status(res), 200);
        ASSERT_EQ(res->body.find("<GRID>"), std::string::npos);
    }
    EXPECT_EQ(metric("vcserver_kept_documents"), "0");
    EXPECT_EQ(metric("vcserver_kept_document_bytes"), "0");
    // 318's document (a long comment among them) and V100's do not fit together.
    ASSERT_EQ(status(c.Get(std::string(kPage) + "?Vendor=V100")), 200);
    ASSERT_EQ(status(c.Get(std::string(kPage) + "?Vendor=318")), 200);
    EXPECT_LE(std::stoul(metric("vcserver_kept_document_bytes")), 4u * 1024);

    constexpr std::size_t kCost = 100 + 1 + DocumentCache::kEntryFloor; // bytes, key, floor
    DocumentCache cache(3 * kCost);
    const auto doc = std::make_shared<const DocumentBytes>(std::string(100, 'x'));
    for (const char* vendor : {"A", "B", "C"}) {
        cache.keep(vendor, {}, doc);
    }
    cache.find("A");
    cache.keep("D", {}, doc);
    EXPECT_EQ(cache.bytes(), 3 * kCost);
    EXPECT_TRUE(cache.find("A") && cache.find("D"));
    EXPECT_FALSE(cache.find("B")) << "the least recently used goes first";
    cache.keep("big", {}, std::make_shared<const DocumentBytes>(std::string(4096, 'x')));
    EXPECT_FALSE(cache.find("big"));
    EXPECT_TRUE(cache.find("A")) << "a document over the budget pushes nothing out";
}

// A matching If-None-Match is answered 304 without a body, kept or not; a change, another
// vendor or the other coding does not match; a second load is served from the kept copy.
TEST_F(KeptDocumentsServed, MatchingTagIsAnswered304) {
    for (const std::size_t budget : {std::size_t{1} << 20, std::size_t{0}}) {
        SCOPED_TRACE(budget);
        serve(budget);
        auto c = client();
        const std::string path = std::string(kPage) + "?Vendor=318";
        const auto first = c.Get(path);
        ASSERT_EQ(status(first), 200);
        const std::string tag = first->get_header_value("ETag");
        ASSERT_FALSE(tag.empty());
        EXPECT_EQ(first->get_header_value("Vary"), "Accept-Encoding");

        const auto again = c.Get(path, {{"If-None-Match", "\"other\", " + tag}});
        ASSERT_EQ(status(again), 304);
        EXPECT_EQ(again->body, "");
        EXPECT_EQ(again->get_header_value("ETag"), tag);
        EXPECT_EQ(status(c.Get(path, {{"If-None-Match", "W/" + tag}})), 304);

        EXPECT_EQ(status(c.Get(std::string(kPage) + "?Vendor=V100", {{"If-None-Match", tag}})),
                  200);
        const auto packed = c.Get(path, {{"If-None-Match", tag}, {"Accept-Encoding", "gzip"}});
        ASSERT_EQ(status(packed), 200);
        EXPECT_NE(packed->get_header_value("ETag"), tag);
        EXPECT_EQ(status(c.Get(path, {{"If-None-Match", packed->get_header_value("ETag")},
                                      {"Accept-Encoding", "gzip"}})),
                  304);

        ASSERT_EQ(status(c.Post(kPage, "SQL=" + formEncode(deleteStatement("318", 2)), kFormType)),
                  200);
        const auto changed = c.Get(path, {{"If-None-Match", tag}});
        ASSERT_EQ(status(changed), 200);
        EXPECT_NE(changed->get_header_value("ETag"), tag);
        EXPECT_EQ(changed->body.find("Net 30"), std::string::npos);
        if (budget > 0) {
            const auto kept = c.Get(path);
            EXPECT_EQ(kept->body, changed->body);
            EXPECT_NE(metric("vcserver_loads_total{from=\"kept\"}"), "0");
        }
        // After a restore the versions may repeat numbers that meant other data.
        store_->renumber();
        const auto renumbered = c.Get(path, {{"If-None-Match", changed->get_header_value("ETag")}});
        ASSERT_EQ(status(renumbered), 200);
        EXPECT_NE(renumbered->get_header_value("ETag"), changed->get_header_value("ETag"));
        server_.reset();
    }
}

} // namespace
