// What an operator relies on: the TLS the server offers, its health check and metrics, and
// its log as JSON.

#include "ServerProcess.h"
#include "ServerTestSupport.h"
#include "TestCertificate.h"
#include "access/PasswordHash.h"
#include "access/UsersFile.h"
#include "http/CommentServer.h"
#include "http/WorkerPool.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <future>
#include <regex>

using namespace vcserver;
using namespace vctest;
using namespace std::chrono_literals;

namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A store that answers, fails, gives up or hangs (until the test ends), as told.
class ScriptedStore : public CommentStore {
public:
    enum class Mode { Answer, Fail, Busy, Hang };
    explicit ScriptedStore(Mode mode) : mode_(mode) {}
    ~ScriptedStore() override { release(); }

    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    VendorComments load(const std::string&) override {
        switch (mode_) {
        case Mode::Answer:
            return {};
        case Mode::Fail:
            throw StoreError("disk I/O error");
        case Mode::Busy:
            throw StoreBusy("The database is busy; try again.");
        case Mode::Hang:
            break;
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return released_; });
        throw StoreError("released");
    }
    ExecResult execute(const Statement&, const std::string&) override {
        return {ExecResult::Outcome::Failed, "the database is gone"};
    }
    void seed(const DemoData&) override {}
    // The operator's commands never reach a served store.
    std::vector<LookupEntry> lookups(LookupKind) override { throw StoreError("not scripted"); }
    void addLookup(LookupKind, std::int64_t, const std::string&) override {
        throw StoreError("not scripted");
    }
    void renameLookup(LookupKind, std::int64_t, const std::string&) override {
        throw StoreError("not scripted");
    }
    std::int64_t removeLookup(LookupKind, std::int64_t, bool, const std::string&) override {
        throw StoreError("not scripted");
    }
    std::vector<HistoryEntry> history(const std::string&, std::optional<std::int64_t>) override {
        throw StoreError("not scripted");
    }
    HistoryEntry restore(const std::string&, std::int64_t, const std::string&,
                         const std::string&) override {
        throw StoreError("not scripted");
    }
    std::int64_t pruneHistory(const std::string&) override { throw StoreError("not scripted"); }
    ImportOutcome importComments(const std::vector<ImportedComment>&, bool) override {
        throw StoreError("not scripted");
    }
    void exportComments(const std::optional<std::string>&,
                        const std::function<void(const ExportedComment&)>&) override {
        throw StoreError("not scripted");
    }

private:
    const Mode mode_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
};

// The health check answers one line, at once or within its time limit, without sign-in.
TEST(ServerHealth, OneLineFromTheStoreOrItsTimeLimit) {
    TempDir dir;
    UsersFile users;
    users.put({"alice", Role::Read, hashPassword("Alice-Secret-1")});
    users.save(dir.path() / "users");
    const struct {
        const char* name;
        ScriptedStore::Mode mode;
        int status;
        std::string body; // a prefix of it
    } cases[] = {
        {"Answers", ScriptedStore::Mode::Answer, 200, "ok\n"},
        {"Fails", ScriptedStore::Mode::Fail, 503, "unavailable: database error: disk I/O error"},
        {"Busy", ScriptedStore::Mode::Busy, 503, "unavailable: The database is busy"},
        {"Hangs", ScriptedStore::Mode::Hang, 503, "unavailable: the database did not answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStore store(c.mode);
        ServerOptions options;
        options.users = std::make_shared<Authenticator>(dir.path() / "users");
        RunningServer server(store, nullptr, 2, options);
        // A hung worker is let go before the server waits for it, however the case ends.
        const struct Release {
            ScriptedStore& store;
            ~Release() { store.release(); }
        } release{store};
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(10s);
        const auto started = std::chrono::steady_clock::now();
        const auto res = client.Get("/healthz");
        ASSERT_TRUE(res);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_EQ(res->status, c.status);
        EXPECT_EQ(res->body.rfind(c.body, 0), 0u) << res->body;
        EXPECT_EQ(res->body.find('\n'), res->body.size() - 1) << res->body;
        EXPECT_EQ(client.Get("/VendorCommentLOAD.asp?Vendor=1")->status, 401);
    }
}

// Past the eager threads a task waits for a running one, unless those have run longer than
// the grace (waiting on the database): then an idle thread takes it. Closing runs what waits.
TEST(WorkerPool, ATaskStuckOnTheDatabaseHoldsTheOthersBackForTheGraceAtMost) {
    std::promise<void> release;
    std::atomic<int> done{0};
    {
        WorkerPool pool(4, 1, 50ms);
        pool.submit([released = release.get_future().share()] { released.wait(); });
        for (int i = 0; i < 3; ++i) {
            pool.submit([&] { ++done; });
        }
        EXPECT_TRUE(waitFor([&] { return done == 3; }, 5s)) << done;
        pool.submit([&] { ++done; });
        release.set_value();
    }
    EXPECT_EQ(done, 4);
}

// Metrics beside the page are signed in like a load; what they count follows the traffic.
TEST(ServerMetrics, CountsRequestsStatementsAndStoreErrorsBehindSignIn) {
    TempDir dir;
    UsersFile users;
    users.put({"alice", Role::Write, hashPassword("Alice-Secret-1")});
    users.save(dir.path() / "users");
    ScriptedStore store(ScriptedStore::Mode::Fail);
    ServerOptions options;
    options.users = std::make_shared<Authenticator>(dir.path() / "users");
    RunningServer server(store, nullptr, 2, options);
    httplib::Client client("127.0.0.1", server.port());
    httplib::Client alice("127.0.0.1", server.port());
    alice.set_basic_auth("alice", "Alice-Secret-1");
    // Each keeps its connection, so two are open at the scrape.
    client.set_keep_alive(true);
    alice.set_keep_alive(true);

    EXPECT_EQ(client.Get("/metrics")->status, 401);
    EXPECT_EQ(alice.Get("/VendorCommentLOAD.asp?Vendor=318")->status, 500);
    const char* form = "application/x-www-form-urlencoded";
    EXPECT_EQ(
        alice.Post("/VendorCommentLOAD.asp", "SQL=" + formEncode(kExampleDelete), form)->status,
        500);
    EXPECT_EQ(alice.Post("/VendorCommentLOAD.asp", "SQL=DROP+TABLE+x", form)->status, 400);
    EXPECT_EQ(alice.Post("/metrics", "", form)->status, 405);
    // The scrape itself is counted once it has ended, so the counts are waited for.
    std::string text;
    EXPECT_TRUE(waitFor(
        [&] {
            const auto res = alice.Get("/metrics");
            text = res && res->status == 200 ? res->body : "";
            return text.find("vcserver_request_duration_seconds_count 5\n") != std::string::npos;
        },
        5s))
        << text;
    for (const char* line : {
             "vcserver_requests_total{status=\"401\"} 1\n",
             "vcserver_requests_total{status=\"500\"} 2\n",
             "vcserver_requests_total{status=\"400\"} 1\n",
             "vcserver_requests_total{status=\"405\"} 1\n",
             "vcserver_request_duration_seconds_bucket{le=\"+Inf\"} 5\n",
             "vcserver_statements_total{outcome=\"failed\"} 1\n",
             "vcserver_statements_total{outcome=\"rejected\"} 1\n",
             "vcserver_statements_total{outcome=\"done\"} 0\n",
             "vcserver_store_errors_total{kind=\"failed\"} 2\n",
             "vcserver_open_connections 2\n",
             "# TYPE vcserver_request_duration_seconds histogram\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
}

// The real program with --metrics-listen and JSON logs: a scrape over HTTP that promtool
// takes, the page's address without /metrics, and every line of standard error an object
// with a level, from the start to the stop.
TEST(ServerMetrics, SeparateAddressScrapeAndJsonLogFromStartToStop) {
    TempDir dir;
    std::ofstream(dir.path() / "users").put('\n');
    const auto errors = dir.path() / "stderr.txt";
    ServerProcess process({"--db", (dir.path() / "comments.db").string(), "--listen", "127.0.0.1:0",
                           "--metrics-listen", "127.0.0.1:0", "--log-format", "json", "--users",
                           (dir.path() / "users").string()},
                          errors);
    const std::string url = process.firstLine();
    ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << readFile(errors);
    httplib::Client page(url.substr(0, url.size() - 1));
    EXPECT_EQ(page.Get("/healthz")->status, 200);
    EXPECT_EQ(page.Get("/metrics")->status, 404);

    std::smatch found;
    const std::string log = readFile(errors);
    ASSERT_TRUE(std::regex_search(log, found,
                                  std::regex("metrics on http://127\\.0\\.0\\.1:([0-9]+)/metrics")))
        << log;
    httplib::Client scraper("127.0.0.1", std::stoi(found[1]));
    // A request is counted once the library reports it complete, just after its answer.
    int status = 0;
    std::string body, type;
    EXPECT_TRUE(waitFor(
        [&] {
            const auto scrape = scraper.Get("/metrics");
            status = scrape ? scrape->status : 0;
            body = scrape ? scrape->body : "";
            type = scrape ? scrape->get_header_value("Content-Type") : "";
            return body.find("vcserver_requests_total{status=\"200\"} 1\n") != std::string::npos &&
                   body.find("vcserver_requests_total{status=\"404\"} 1\n") != std::string::npos;
        },
        5s))
        << body;
    EXPECT_EQ(status, 200);
    EXPECT_EQ(type.rfind("text/plain; version=0.0.4", 0), 0u) << type;
    if (runQuietly({"promtool", "--version"})) {
        std::ofstream(dir.path() / "scrape.txt") << body;
        EXPECT_TRUE(runQuietly(
            {"sh", "-c", "promtool check metrics < " + (dir.path() / "scrape.txt").string()}));
    } else {
        ADD_FAILURE() << "no promtool (scripts/setup installs prometheus)";
    }

    process.signal(SIGTERM);
    EXPECT_EQ(process.wait(), 0);
    std::istringstream lines(readFile(errors));
    const std::regex object(R"re(\{"time":"[^"]+","level":"(info|warning|error)",.*\})re");
    std::vector<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, object)) << line;
        seen.push_back(line);
    }
    ASSERT_GE(seen.size(), 5u);
    EXPECT_NE(seen[0].find("\"level\":\"warning\",\"message\":\"users file"), std::string::npos);
    EXPECT_NE(seen.back().find("\"level\":\"info\",\"message\":\"stopped\""), std::string::npos);
}

// Handshakes by a client that offers only what each priority string allows: the server takes
// TLS 1.3 and 1.2 with forward-secret AEAD suites, and nothing older or weaker.
TEST(ServerTls, OnlyModernProtocolsAndSuitesAreAccepted) {
    TempDir dir;
    const TestCertificate made = makeTestCertificate(dir.path());
    const auto store = openSqliteStore(dir.path() / "comments.db");
    ServerOptions options;
    options.tls = readTlsFiles(made.certificate, made.key);
    RunningServer server(*store, nullptr, 2, options);
    ASSERT_GT(server.port(), 0);
    ASSERT_TRUE(runQuietly({"gnutls-cli", "--version"})) << "needs gnutls-cli (scripts/setup)";

    const struct {
        const char* priority;
        bool accepted;
    } cases[] = {
        {"NORMAL:-VERS-ALL:+VERS-TLS1.3", true},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-GCM", true},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-CIPHER-ALL:+CHACHA20-POLY1305", true},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.1", false},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.0", false},
        // CBC with an ephemeral key exchange, which the server would otherwise pick.
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-CBC:+AES-256-CBC:+SHA1:+SHA256",
         false},
        // No forward secrecy: only finite-field or no ephemeral key exchange.
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-KX-ALL:+DHE-RSA:+RSA:+DHE-ECDSA", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.priority);
        EXPECT_EQ(runQuietly({"gnutls-cli", "--insecure", "--priority", c.priority, "-p",
                              std::to_string(server.port()), "127.0.0.1"}),
                  c.accepted);
    }
}

} // namespace
