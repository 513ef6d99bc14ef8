#include "store/FilteredVfs.h"
#include "store/StoreEngine.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <system_error>

namespace vcserver {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// The write-ahead log is cut back to this size whenever it starts over, so the room a full
// disk once forced it to take is given back.
constexpr int kWalSizeLimit = 4 * 1024 * 1024;
// While checkpoints fail, one notice at most this often.
constexpr auto kNoticeInterval = std::chrono::seconds(60);
// After a write failed for want of space, a checkpoint is tried before the next write, at
// most this often.
constexpr auto kCheckpointRetry = std::chrono::seconds(1);

struct DbError {
    int code; // extended
    std::string message;
    int systemError = 0; // errno of a failed file call
};

[[noreturn]] void raise(sqlite3* db) {
    throw DbError{sqlite3_extended_errcode(db), sqlite3_errmsg(db), sqlite3_system_errno(db)};
}

bool isReadError(const DbError& e) {
    return e.code == SQLITE_IOERR_READ || e.code == SQLITE_IOERR_SHORT_READ;
}

// "disk I/O error (Input/output error)", or the first alone when the system said nothing.
std::string withSystemError(const DbError& e) {
    return e.systemError ? e.message + " (" + std::generic_category().message(e.systemError) + ")"
                         : e.message;
}

// What a load or seed failure says; a failed read says so instead of blaming the file.
std::string describe(const DbError& e) {
    if (isReadError(e)) {
        return "reading the database file failed: " + withSystemError(e);
    }
    return e.message;
}

// SQLite takes a failed read (EIO) for a damaged file and says "database disk image is
// malformed"; a failed read is reported as one. Everything else passes unchanged.
int namedReadErrors(FileOp op, int, const std::function<int()>& proceed) {
    const int rc = proceed();
    return op == FileOp::Read && rc == SQLITE_IOERR_CORRUPTFS ? SQLITE_IOERR_READ : rc;
}

// The store's VFS over the default one at the time of opening (one per default seen).
const char* storeVfs() {
    static std::mutex mutex;
    static std::map<sqlite3_vfs*, std::string> wrappers;
    std::lock_guard lock(mutex);
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    auto& name = wrappers[base];
    if (name.empty()) {
        name = "vcserver-" + std::to_string(wrappers.size()) + "-" + base->zName;
        registerFilteredVfs(name, base, namedReadErrors, false);
    }
    return name.c_str();
}

// A connection with the statements it has compiled, each kept for its next use.
class Connection {
public:
    explicit Connection(sqlite3* db) : db_(db) {}
    ~Connection() {
        for (auto& [sql, stmt] : cache_) {
            sqlite3_finalize(stmt);
        }
        sqlite3_close_v2(db_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* get() const { return db_; }

    // The compiled statement, taken out of the cache while in use.
    sqlite3_stmt* take(const std::string& sql) {
        if (const auto found = cache_.find(sql); found != cache_.end()) {
            sqlite3_stmt* stmt = found->second;
            cache_.erase(found);
            return stmt;
        }
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
            SQLITE_OK) {
            raise(db_);
        }
        return stmt;
    }
    void give(const std::string& sql, sqlite3_stmt* stmt) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (!cache_.emplace(sql, stmt).second) {
            sqlite3_finalize(stmt);
        }
    }

private:
    sqlite3* db_;
    std::map<std::string, sqlite3_stmt*> cache_;
};

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        raise(db);
    }
}

// Rolls back unless committed.
class Transaction {
public:
    Transaction(sqlite3* db, const char* begin) : db_(db) { exec(db, begin); }
    ~Transaction() {
        if (!done_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit() {
        exec(db_, "COMMIT");
        done_ = true;
    }

private:
    sqlite3* db_;
    bool done_ = false;
};

// One statement with its parameters bound by position, stepped through its rows.
class Query : public SqlRows {
public:
    Query(Connection& c, const std::string& sql, const SqlParams& params)
        : c_(c), sql_(sql), stmt_(c.take(sql)) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int at = static_cast<int>(i + 1);
            const SqlValue& p = params[i];
            if (const auto* n = std::get_if<std::int64_t>(&p)) {
                check(sqlite3_bind_int64(stmt_, at, *n));
            } else if (const auto* t = std::get_if<std::string>(&p)) {
                check(sqlite3_bind_text(stmt_, at, t->data(), static_cast<int>(t->size()),
                                        SQLITE_TRANSIENT));
            } else {
                check(sqlite3_bind_null(stmt_, at));
            }
        }
    }
    ~Query() override { c_.give(sql_, stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool next() override {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            raise(c_.get());
        }
        return false;
    }
    std::int64_t integer(int col) const override { return sqlite3_column_int64(stmt_, col); }
    std::string_view view(int col) const override {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string_view();
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) {
            raise(c_.get());
        }
    }

    Connection& c_;
    const std::string sql_;
    sqlite3_stmt* stmt_;
};

class Session : public SqlSession {
public:
    Session(Connection& c, const StoreEngine& engine) : c_(c), engine_(engine) {}

    std::unique_ptr<SqlRows> query(const std::string& sql, const SqlParams& params) override {
        return std::make_unique<Query>(c_, sql, params);
    }
    std::int64_t change(const std::string& sql, const SqlParams& params) override {
        Query(c_, sql, params).next();
        return sqlite3_changes64(c_.get());
    }
    void script(const std::string& sql) override { exec(c_.get(), sql.c_str()); }
    std::string compileProblem(const std::string& sql) override {
        try {
            Query compiled(c_, sql, {});
            return {};
        } catch (const DbError& e) {
            return e.message;
        }
    }

    int schemaVersion() override {
        Query q(c_, "PRAGMA user_version", {});
        q.next();
        return static_cast<int>(q.integer(0));
    }
    void createTables() override {
        for (const auto& table : storeTables()) {
            exec(c_.get(), createTable(table, engine_, true).c_str());
        }
    }
    void recordVersion(int) override {
        exec(c_.get(), ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    }
    // Text or no affinity, compared by BINARY: another case or a number would match too.
    bool keyComparesBytewise() override {
        const char* type = nullptr;
        const char* collation = nullptr;
        if (sqlite3_table_column_metadata(c_.get(), "main", "VendorComment", "VendorID", &type,
                                          &collation, nullptr, nullptr, nullptr) != SQLITE_OK) {
            return false;
        }
        std::string upper = type ? type : "";
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
        const bool textOrNone =
            upper.find("INT") == std::string::npos &&
            (upper.empty() || upper.find("CHAR") != std::string::npos ||
             upper.find("CLOB") != std::string::npos || upper.find("TEXT") != std::string::npos ||
             upper.find("BLOB") != std::string::npos);
        return textOrNone && collation && std::string_view(collation) == "BINARY";
    }

private:
    Connection& c_;
    const StoreEngine& engine_;
};

class SqliteEngine : public StoreEngine {
public:
    SqliteEngine(std::filesystem::path file, const SqliteOptions& options)
        : file_(std::move(file)), options_(options), vfs_(storeVfs()) {
        createPrivately(file_);
        try {
            auto db = connect();
            if (sqlite3_db_readonly(db->get(), "main") == 1) {
                throw StoreError("the file is read-only");
            }
            // Switching to WAL needs no other connection open, so it happens first, once.
            exec(db->get(), "PRAGMA journal_mode = WAL");
            idle_.push_back(std::move(db));
        } catch (const DbError& e) {
            throw StoreError(describe(e));
        }
    }

    void transact(TransactionKind kind, const std::function<bool(SqlSession&)>& work) override {
        Lease lease(*this);
        Connection& c = lease.connection();
        const bool writing = kind == TransactionKind::Write || kind == TransactionKind::Import;
        // Writers of this process queue here rather than in SQLite's busy handler, whose
        // sleeps would add tens of milliseconds under contention; the busy timeout still
        // covers other processes using the same file.
        std::unique_lock<std::mutex> writer;
        if (writing) {
            writer = std::unique_lock(writeMutex_);
            retryCheckpoint(c.get());
        }
        bool committing = false;
        try {
            // IMMEDIATE takes the write lock up front, so a sequence read inside cannot be
            // read by another insert before this one commits.
            Transaction tx(c.get(), writing ? "BEGIN IMMEDIATE" : "BEGIN");
            Session session(c, *this);
            if (work(session)) {
                committing = writing;
                tx.commit();
            }
        } catch (const DbError& e) {
            if (writing && ((e.code & 0xFF) == SQLITE_FULL || (e.code & 0xFF) == SQLITE_IOERR)) {
                wantCheckpoint(c.get());
            }
            throw classify(e, committing);
        }
    }

    std::string now() const override { return "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')"; }
    std::string timestamp(const std::string& parameter) const override {
        return "strftime('%Y-%m-%d %H:%M:%f', " + parameter + ")";
    }
    // Dates and times are stored as their text.
    std::string dateText(const std::string& column) const override { return column; }
    std::string timestampText(const std::string& column) const override { return column; }
    std::string bytewise(const std::string& column) const override { return column; }
    std::string caseFolded(const std::string& column) const override {
        return column + " COLLATE NOCASE";
    }
    std::string utcNow() const override { return "strftime('%Y-%m-%d %H:%M:%f', 'now')"; }
    std::string utcTimestamp(const std::string& parameter) const override {
        return timestamp(parameter);
    }
    std::string utcText(const std::string& column) const override { return column; }
    // A Serial key is the table's rowid, which SQLite assigns.
    std::string columnType(ColumnType type) const override {
        return type == ColumnType::Integer || type == ColumnType::Serial ? "INTEGER" : "TEXT";
    }
    // A table keyed by its INTEGER code keeps it as its rowid; the others need no rowid.
    std::string tableOptions(const TableDef& table) const override {
        return table.key.size() > 1 ? " WITHOUT ROWID" : "";
    }

private:
    static EngineFailure classify(const DbError& e, bool committing) {
        using Kind = EngineFailure::Kind;
        const int primary = e.code & 0xFF;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
            // The transaction stays open after a busy COMMIT, and is rolled back.
            return {
                Kind::Busy, "the database stayed busy (locked by another writer); try again", {}};
        }
        if (committing) {
            // The commit's pages may be in the log though it was not made durable (a failed
            // fsync), and then count after a restart; or they may be lost.
            return {Kind::CommitUnknown,
                    "the commit could not be written to the database file: " + withSystemError(e),
                    {}};
        }
        if (isReadError(e)) {
            return {Kind::Lost, describe(e),
                    "Reading the database file failed: " + withSystemError(e) +
                        "; nothing was changed."};
        }
        return {primary == SQLITE_CONSTRAINT ? Kind::Refused : Kind::Other, e.message, {}};
    }

    // The file is made here when missing, readable by its owner only; SQLite gives its
    // -wal and -shm files the same mode. An existing file keeps the mode it has.
    static void createPrivately(const std::filesystem::path& file) {
        const std::string name = file.string();
        if (name.empty() || name == ":memory:" || name.starts_with("file:")) {
            return;
        }
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
        }
    }

    using Owned = std::unique_ptr<Connection>;

    // A connection borrowed from the pool for one call; each is used by one thread at a time.
    class Lease {
    public:
        explicit Lease(SqliteEngine& engine) : engine_(engine), c_(engine.acquire()) {}
        ~Lease() { engine_.release(std::move(c_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection& connection() const { return *c_; }

    private:
        SqliteEngine& engine_;
        Owned c_;
    };

    Owned connect() {
        sqlite3* raw = nullptr;
        const int rc =
            sqlite3_open_v2(file_.c_str(), &raw,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, vfs_);
        auto c = std::make_unique<Connection>(raw);
        if (rc != SQLITE_OK) {
            throw StoreError(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        }
        sqlite3* db = c->get();
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db, 1);
        exec(db, "PRAGMA foreign_keys = ON");
        exec(db, ("PRAGMA journal_size_limit = " + std::to_string(kWalSizeLimit)).c_str());
        // In place of SQLite's automatic checkpoint, whose failures nobody would hear of.
        sqlite3_wal_hook(db, &SqliteEngine::afterCommit, this);
        return c;
    }

    static int afterCommit(void* self, sqlite3* db, const char*, int walPages) {
        auto* store = static_cast<SqliteEngine*>(self);
        if (walPages >= store->options_.checkpointPages) {
            store->checkpoint(db, SQLITE_CHECKPOINT_PASSIVE);
        }
        return SQLITE_OK;
    }

    // Called with writeMutex_ held and no transaction open.
    void checkpoint(sqlite3* db, int mode) {
        lastCheckpoint_ = std::chrono::steady_clock::now();
        const int rc = sqlite3_wal_checkpoint_v2(db, "main", mode, nullptr, nullptr);
        // Busy: readers or another process's checkpoint are in the way; the next commit tries
        // again, as SQLite's own checkpoint would.
        if (rc == SQLITE_OK || (rc & 0xFF) == SQLITE_BUSY) {
            if (rc == SQLITE_OK && failedCheckpoints_ > 0) {
                notice("checkpoint of " + file_.string() + " succeeded after " +
                       std::to_string(failedCheckpoints_) +
                       " failed attempts; the write-ahead log is " + walSize());
                failedCheckpoints_ = 0;
            }
            if (rc == SQLITE_OK) {
                checkpointWanted_ = false;
            }
            return;
        }
        checkpointWanted_ = true;
        const DbError e{sqlite3_extended_errcode(db), sqlite3_errmsg(db), sqlite3_system_errno(db)};
        const auto now = std::chrono::steady_clock::now();
        if (failedCheckpoints_++ == 0 || now - lastNotice_ >= kNoticeInterval) {
            lastNotice_ = now;
            notice("checkpoint of " + file_.string() + " failed (" +
                   std::to_string(failedCheckpoints_) + " in a row): " + withSystemError(e) +
                   "; commits still go to the write-ahead log, now " + walSize() +
                   "; retrying after later writes");
        }
    }

    void wantCheckpoint(sqlite3* db) {
        checkpointWanted_ = true;
        if (sqlite3_get_autocommit(db)) {
            retryCheckpoint(db);
        }
    }

    // After a failed checkpoint or write, and once after opening (a log left by a server that
    // stopped on a full disk): TRUNCATE hands the log's room back at once.
    void retryCheckpoint(sqlite3* db) {
        if (checkpointWanted_ &&
            std::chrono::steady_clock::now() - lastCheckpoint_ >= kCheckpointRetry) {
            checkpoint(db, SQLITE_CHECKPOINT_TRUNCATE);
        }
    }

    std::string walSize() const {
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(file_.string() + "-wal", ec);
        if (ec) {
            return "of unknown size";
        }
        if (bytes < 1024 * 1024) {
            return std::to_string((bytes + 512) / 1024) + " KiB";
        }
        return std::to_string((bytes + 512 * 1024) / (1024 * 1024)) + " MiB";
    }

    Owned acquire() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                Owned c = std::move(idle_.back());
                idle_.pop_back();
                return c;
            }
        }
        try {
            return connect();
        } catch (const DbError& e) {
            throw StoreError(describe(e));
        }
    }

    void release(Owned c) {
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(c));
    }

    void notice(const std::string& message) const {
        if (notices) {
            notices(message);
        }
    }

    std::filesystem::path file_;
    const SqliteOptions options_;
    const char* vfs_;
    std::mutex mutex_; // guards idle_
    std::vector<Owned> idle_;
    std::mutex writeMutex_;
    // Guarded by writeMutex_, as checkpoints run only under it.
    bool checkpointWanted_ = true;
    int failedCheckpoints_ = 0;
    std::chrono::steady_clock::time_point lastCheckpoint_{};
    std::chrono::steady_clock::time_point lastNotice_{};
};

} // namespace

std::unique_ptr<CommentStore> openSqliteStore(const std::filesystem::path& file,
                                              const SqliteOptions& options) {
    return openSqlStore(std::make_unique<SqliteEngine>(file, options));
}

} // namespace vcserver
