// The stores under failing disks, held locks and idle connections: every answer says what
// happened to the statement, nothing hangs, and nothing grows unseen.

#include "ServerTestSupport.h"
#include "http/CommentServer.h"
#include "store/DemoData.h"
#include "store/FilteredVfs.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <thread>

using namespace vcserver;
using namespace vctest;
using namespace std::chrono_literals;

namespace {

const char* const kPage = "/VendorCommentLOAD.asp";
const char* const kFormType = "application/x-www-form-urlencoded";

const Statement kInsert = InsertComment{"318", {4, 12, std::nullopt, std::nullopt, "fault"}};

// A fault the shim answers with in place of the real call: on files opened with any of the
// flags, for one kind of call.
struct Fault {
    int fileFlags = 0;
    FileOp op = FileOp::Sync;
    int rc = SQLITE_OK;
};

std::mutex faultMutex;
std::optional<Fault> fault;

void setFault(std::optional<Fault> f) {
    std::lock_guard lock(faultMutex);
    fault = f;
}

// The default VFS passed through the shim, which fails calls as the fault says; while a test
// runs it is the default, so the stores opened meanwhile go through it.
sqlite3_vfs* shim() {
    static sqlite3_vfs* vfs = registerFilteredVfs(
        "fault-shim", sqlite3_vfs_find("unix"),
        [](FileOp op, int openFlags, const std::function<int()>& proceed) {
            {
                std::lock_guard lock(faultMutex);
                if (fault && fault->op == op && (openFlags & fault->fileFlags)) {
                    return fault->rc;
                }
            }
            return proceed();
        },
        false);
    return vfs;
}

class SqliteFaultTest : public ::testing::Test {
protected:
    SqliteFaultTest() { sqlite3_vfs_register(shim(), 1); }
    ~SqliteFaultTest() override {
        setFault(std::nullopt);
        store_.reset();
        sqlite3_vfs_register(sqlite3_vfs_find("unix"), 1);
    }

    void open(const SqliteOptions& options = {}) {
        store_ = openSqliteStore(db_, options);
        store_->setNotices([this](const std::string& m) {
            std::lock_guard lock(noticesMutex_);
            notices_.push_back(m);
        });
    }

    std::string notices() {
        std::lock_guard lock(noticesMutex_);
        std::string all;
        for (const auto& n : notices_) {
            all += n + "\n";
        }
        return all;
    }

    TempDir dir_;
    std::filesystem::path db_ = dir_.path() / "comments.db";
    std::unique_ptr<CommentStore> store_;
    std::mutex noticesMutex_;
    std::vector<std::string> notices_;
};

// A commit whose log write or fsync failed may be in the log all the same and count after a
// restart: a clerk told it failed would send it again.
TEST_F(SqliteFaultTest, FailedCommitsMayHaveTakenEffect) {
    struct Case {
        const char* name;
        Fault fault;
    };
    for (const auto& [name, f] : {
             Case{"fsync of the log", {SQLITE_OPEN_WAL, FileOp::Sync, SQLITE_IOERR_FSYNC}},
             Case{"full disk", {SQLITE_OPEN_WAL, FileOp::Write, SQLITE_FULL}},
         }) {
        SCOPED_TRACE(name);
        open();
        store_->seed(demoData());
        setFault(f);
        const ExecResult failed = store_->execute(kInsert, "test");
        EXPECT_EQ(failed.outcome, ExecResult::Outcome::Failed);
        EXPECT_NE(failed.message.find(kMayHaveTakenEffect), std::string::npos) << failed.message;
        EXPECT_EQ(failed.message.find('\n'), std::string::npos);
        setFault(std::nullopt);
        const ExecResult next = store_->execute(kInsert, "test");
        EXPECT_EQ(next.outcome, ExecResult::Outcome::Done) << next.message;
        EXPECT_EQ(store_->load("318").comments.back().sequence, next.sequence);
        store_.reset();
        std::filesystem::remove(db_);
    }
}

TEST_F(SqliteFaultTest, AFailedReadIsNamedAsOne) {
    open();
    store_->seed(demoData());
    // A fresh store, whose connections have nothing cached yet.
    open();
    // What SQLite's own file layer answers for EIO on a read.
    setFault(Fault{SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_WAL, FileOp::Read, SQLITE_IOERR_CORRUPTFS});
    try {
        store_->load("318");
        FAIL() << "the load succeeded";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("reading the database file failed"), std::string::npos)
            << e.what();
        EXPECT_EQ(std::string(e.what()).find("malformed"), std::string::npos) << e.what();
    }
    setFault(std::nullopt);
    EXPECT_EQ(store_->load("318").comments.size(), 4u);
}

// Checkpoints that fail leave commits acknowledged while the log grows: that is said once,
// and so is the recovery once the file takes writes again.
TEST_F(SqliteFaultTest, FailingCheckpointsAreReportedAndRetried) {
    open(SqliteOptions{2});
    store_->seed(demoData());
    setFault(Fault{SQLITE_OPEN_MAIN_DB, FileOp::Write, SQLITE_IOERR_WRITE});
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(store_->execute(kInsert, "test").outcome, ExecResult::Outcome::Done);
    }
    const std::string failing = notices();
    EXPECT_NE(failing.find("checkpoint of " + db_.string() + " failed"), std::string::npos)
        << failing;
    EXPECT_EQ(std::count(failing.begin(), failing.end(), '\n'), 1) << failing;
    setFault(std::nullopt);
    // The retry waits a second after the last attempt.
    ASSERT_TRUE(waitFor(
        [&] {
            store_->execute(kInsert, "test");
            return notices().find("succeeded after") != std::string::npos;
        },
        5s))
        << notices();
    // Every acknowledged insert is there, with consecutive sequences.
    const auto comments = store_->load("318").comments;
    for (std::size_t i = 0; i < comments.size(); ++i) {
        EXPECT_EQ(comments[i].sequence, static_cast<std::int64_t>(i + 1));
    }
    EXPECT_GE(comments.size(), 4u + 5u + 1u);
}

// A statement still waiting for the database when its connection is cut was never answered;
// the log says so, and what became of it.
TEST_F(SqliteFaultTest, TheLogTellsOfWorkThatOutlivedItsConnection) {
    open();
    store_->seed(demoData());
    ServerOptions options;
    options.limits.answerTime = 300ms;
    SharedLog lines;
    std::ostream log(&lines);
    RunningServer server(*store_, &log, 2, options);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    httplib::Client client("127.0.0.1", server.port());
    const auto res = client.Post(
        kPage, "SQL=" + formEncode(insertBatch("318", 4, 12, "", "", "late")), kFormType);
    EXPECT_FALSE(res) << "answered " << res->status;
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    const std::string expected = "POST /VendorCommentLOAD.asp - 0 ";
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& line : lines.lines()) {
                if (line.find(expected) != std::string::npos) {
                    EXPECT_NE(line.find("No answer was ready within 300 ms, so the connection was "
                                        "closed. The statement took effect later all the same."),
                              std::string::npos)
                        << line;
                    return true;
                }
            }
            return false;
        },
        10s));
    EXPECT_EQ(store_->load("318").comments.back().comment, "late");
}

// A lock held elsewhere: loads and statements give up in their own time with 503 and one
// line, change nothing, and work again once the lock is gone.
TEST(PostgresFaults, AHeldLockIsAnswered503WithinTheLimit) {
    TestDatabase db(StoreKind::Postgres);
    PostgresOptions options;
    options.connections = 2;
    options.lockTimeout = 300ms;
    auto store = openPostgresStore(db.location(), options);
    store->seed(demoData());
    const std::string before = db.snapshot();
    RunningServer server(*store, nullptr, 2);
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(10s);
    const std::string insert = "SQL=" + formEncode(insertBatch("318", 4, 12, "", "", "locked"));

    PgSession holder(db.location());
    holder.query("BEGIN");
    holder.query("LOCK TABLE VendorComment IN ACCESS EXCLUSIVE MODE");
    for (int i = 0; i < 3; ++i) {
        for (const bool post : {true, false}) {
            SCOPED_TRACE(post ? "POST" : "GET");
            const auto res = post ? client.Post(kPage, insert, kFormType)
                                  : client.Get(std::string(kPage) + "?Vendor=318");
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 503);
            EXPECT_EQ(res->body, "A lock held by another database session kept the statement "
                                 "waiting over 300 ms; nothing was changed: try again.");
            EXPECT_EQ(res->body.find('\n'), std::string::npos) << res->body;
        }
    }
    holder.query("COMMIT");
    EXPECT_EQ(db.snapshot(), before);
    const auto res = client.Post(kPage, insert, kFormType);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
}

TEST(PostgresFaults, IdleConnectionsAreClosed) {
    TestDatabase db(StoreKind::Postgres);
    const std::string app = "vct_idle_" + randomHex();
    PostgresOptions options;
    options.connections = 4;
    options.idleTime = 300ms;
    auto store = openPostgresStore(db.location() + "&application_name=" + app, options);
    PgSession watcher(db.location());
    const auto open = [&] {
        return std::stoi(watcher.query(
            "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + app + "'"));
    };
    for (int round = 0; round < 2; ++round) {
        std::vector<std::thread> loads;
        for (int i = 0; i < 4; ++i) {
            loads.emplace_back([&] { store->load("318"); });
        }
        for (auto& t : loads) {
            t.join();
        }
        EXPECT_GE(open(), 1);
        EXPECT_TRUE(waitFor([&] { return open() == 0; }, 5s)) << open() << " still open";
    }
}

} // namespace
