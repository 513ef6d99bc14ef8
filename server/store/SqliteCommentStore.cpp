#include "store/CommentStore.h"
#include "store/FilteredVfs.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>

#include <map>
#include <mutex>
#include <set>
#include <string_view>
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

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS CommentType (
    Code INTEGER PRIMARY KEY,
    Name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS CommentLocation (
    Code INTEGER PRIMARY KEY,
    Name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS VendorComment (
    VendorID TEXT NOT NULL,
    CommentSequence INTEGER NOT NULL,
    Type INTEGER NOT NULL REFERENCES CommentType (Code),
    Location INTEGER NOT NULL REFERENCES CommentLocation (Code),
    Effective TEXT,
    Expires TEXT,
    Comment TEXT NOT NULL,
    RecordLastUpdated TEXT NOT NULL,
    PRIMARY KEY (VendorID, CommentSequence)
) WITHOUT ROWID;
)sql";

// The steps from each schema version to the next: kMigrations[v - 1] takes a database of
// version v to v + 1, in the transaction that records the new version.
const std::array<const char*, kSchemaVersion - 1> kMigrations = {};

const char* const kSelectLocations =
    "SELECT Code, Name FROM CommentLocation ORDER BY Name COLLATE NOCASE, Name, Code";
const char* const kSelectTypes =
    "SELECT Code, Name FROM CommentType ORDER BY Name COLLATE NOCASE, Name, Code";
const char* const kSelectComments =
    "SELECT c.VendorID, c.CommentSequence, c.Type, COALESCE(t.Name, ''), c.Location, "
    "COALESCE(l.Name, ''), COALESCE(c.Effective, ''), COALESCE(c.Expires, ''), c.Comment "
    "FROM VendorComment c "
    "LEFT JOIN CommentType t ON t.Code = c.Type "
    "LEFT JOIN CommentLocation l ON l.Code = c.Location "
    "WHERE c.VendorID = ?1 ORDER BY c.CommentSequence";
const char* const kNextSequence =
    "SELECT COALESCE(MAX(CommentSequence), 0) + 1 FROM VendorComment WHERE VendorID = ?1";
// GETDATE() is the server's local time.
const char* const kInsert =
    "INSERT INTO VendorComment (VendorID, CommentSequence, Type, Location, Effective, "
    "Expires, Comment, RecordLastUpdated) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'))";
const char* const kUpdate =
    "UPDATE VendorComment SET Type = ?3, Location = ?4, Effective = ?5, Expires = ?6, "
    "Comment = ?7, RecordLastUpdated = strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime') "
    "WHERE VendorID = ?1 AND CommentSequence = ?2";
const char* const kDelete =
    "DELETE FROM VendorComment WHERE VendorID = ?1 AND CommentSequence = ?2";
const char* const kTypeExists = "SELECT 1 FROM CommentType WHERE Code = ?1";
const char* const kLocationExists = "SELECT 1 FROM CommentLocation WHERE Code = ?1";
const char* const kCountComments = "SELECT COUNT(*) FROM VendorComment WHERE VendorID = ?1";
const char* const kSequenceExists =
    "SELECT 1 FROM VendorComment WHERE VendorID = ?1 AND CommentSequence = ?2";
// An imported comment keeps the time it was last updated elsewhere when the file gives it.
const char* const kImport =
    "INSERT INTO VendorComment (VendorID, CommentSequence, Type, Location, Effective, "
    "Expires, Comment, RecordLastUpdated) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
    "COALESCE(strftime('%Y-%m-%d %H:%M:%f', ?8), "
    "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')))";
const char* const kExport =
    "SELECT VendorID, CommentSequence, Type, Location, COALESCE(Effective, ''), "
    "COALESCE(Expires, ''), Comment, RecordLastUpdated FROM VendorComment "
    "WHERE ?1 IS NULL OR VendorID = ?1 ORDER BY VendorID, CommentSequence";

const char* lookupTable(LookupKind kind) {
    return kind == LookupKind::Type ? "CommentType" : "CommentLocation";
}
const char* lookupColumn(LookupKind kind) {
    return kind == LookupKind::Type ? "Type" : "Location";
}

// "type 3 (Billing)"
std::string entryName(LookupKind kind, std::int64_t code, const std::string& name) {
    return std::string(lookupKindName(kind)) + " " + std::to_string(code) + " (" + name + ")";
}

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

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseDb>;

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        raise(db);
    }
}

// One prepared statement with its parameters bound by position.
class Query {
public:
    Query(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            raise(db);
        }
    }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int i, std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, i, value));
        return *this;
    }
    Query& bind(int i, const std::string& value) {
        check(sqlite3_bind_text(stmt_, i, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Query& bindNull(int i) {
        check(sqlite3_bind_null(stmt_, i));
        return *this;
    }
    // For running it again with other parameters.
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Query& bind(int i, const std::optional<CalendarDate>& date) {
        if (!date) {
            check(sqlite3_bind_null(stmt_, i));
            return *this;
        }
        return bind(i, isoDate(*date));
    }

    // True while there is a row to read.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            raise(db_);
        }
        return false;
    }

    std::int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    std::string text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) {
            raise(db_);
        }
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

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

bool exists(sqlite3* db, const char* sql, std::int64_t code) {
    Query q(db, sql);
    q.bind(1, code);
    return q.step();
}

struct Refused {
    std::string message;
};

void checkCodes(sqlite3* db, const CommentFields& f) {
    if (!exists(db, kTypeExists, f.type)) {
        throw Refused{"Comment type " + std::to_string(f.type) + " does not exist."};
    }
    if (!exists(db, kLocationExists, f.location)) {
        throw Refused{"Comment location " + std::to_string(f.location) + " does not exist."};
    }
}

void bindFields(Query& q, const CommentFields& f) {
    q.bind(3, std::int64_t{f.type})
        .bind(4, std::int64_t{f.location})
        .bind(5, f.effective)
        .bind(6, f.expires)
        .bind(7, f.comment);
}

std::int64_t nextSequence(sqlite3* db, const std::string& vendor) {
    Query q(db, kNextSequence);
    q.bind(1, vendor);
    q.step();
    return q.integer(0);
}

std::int64_t insertComment(sqlite3* db, const std::string& vendor, const CommentFields& f) {
    const std::int64_t sequence = nextSequence(db, vendor);
    Query q(db, kInsert);
    q.bind(1, vendor).bind(2, sequence);
    bindFields(q, f);
    q.step();
    return sequence;
}

std::vector<LookupEntry> readLookup(sqlite3* db, const char* sql) {
    std::vector<LookupEntry> entries;
    Query q(db, sql);
    while (q.step()) {
        entries.push_back({q.integer(0), q.text(1)});
    }
    return entries;
}

class SqliteCommentStore : public CommentStore {
public:
    SqliteCommentStore(std::filesystem::path file, const SqliteOptions& options)
        : file_(std::move(file)), options_(options), vfs_(storeVfs()) {
        createPrivately(file_);
        try {
            Connection db = connect();
            if (sqlite3_db_readonly(db.get(), "main") == 1) {
                throw StoreError("the file is read-only");
            }
            // Switching to WAL needs no other connection open, so it happens first, once.
            exec(db.get(), "PRAGMA journal_mode = WAL");
            // Servers starting together on one file take turns here.
            Transaction tx(db.get(), "BEGIN IMMEDIATE");
            const int version = userVersion(db.get());
            if (version > kSchemaVersion) {
                throw StoreError("the database has schema version " + std::to_string(version) +
                                 ", newer than this program's " + std::to_string(kSchemaVersion) +
                                 "; use the newer program that wrote it");
            }
            if (version == 0) {
                exec(db.get(), kSchema);
            }
            for (int v = std::max(version, 1); v < kSchemaVersion; ++v) {
                exec(db.get(), kMigrations[static_cast<std::size_t>(v - 1)]);
            }
            // A database made elsewhere with other columns fails here rather than on use,
            // naming the table.
            for (const auto& [table, sql] :
                 {std::pair{"CommentLocation", kSelectLocations},
                  std::pair{"CommentType", kSelectTypes},
                  std::pair{"VendorComment", kSelectComments}, std::pair{"VendorComment", kInsert},
                  std::pair{"VendorComment", kUpdate}, std::pair{"VendorComment", kDelete}}) {
                try {
                    Query check(db.get(), sql);
                } catch (const DbError& e) {
                    throw StoreError("table " + std::string(table) +
                                     " has other columns than this server uses: " + e.message);
                }
            }
            if (version != kSchemaVersion) {
                exec(db.get(), ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
            }
            tx.commit();
            idle_.push_back(std::move(db));
        } catch (const DbError& e) {
            throw StoreError(describe(e));
        }
    }

    VendorComments load(const std::string& vendor) override {
        Lease lease(*this);
        try {
            VendorComments out;
            Transaction snapshot(lease.db(), "BEGIN");
            out.locations = readLookup(lease.db(), kSelectLocations);
            out.types = readLookup(lease.db(), kSelectTypes);
            {
                // Room for every row at once, rather than moving them all at every doubling.
                Query count(lease.db(), kCountComments);
                count.bind(1, vendor);
                if (count.step()) {
                    out.comments.reserve(static_cast<std::size_t>(count.integer(0)));
                }
            }
            Query q(lease.db(), kSelectComments);
            q.bind(1, vendor);
            while (q.step()) {
                out.comments.push_back({q.text(0), q.integer(1), q.integer(2), q.text(3),
                                        q.integer(4), q.text(5), q.text(6), q.text(7), q.text(8)});
            }
            snapshot.commit();
            return out;
        } catch (const DbError& e) {
            if ((e.code & 0xFF) == SQLITE_BUSY) {
                throw StoreBusy("The database is busy; try again.");
            }
            throw StoreError(describe(e));
        }
    }

    ExecResult execute(const Statement& statement) override {
        Lease lease(*this);
        sqlite3* db = lease.db();
        // Writers of this process queue here rather than in SQLite's busy handler, whose
        // sleeps would add tens of milliseconds under contention; the busy timeout still
        // covers other processes using the same file.
        std::lock_guard writer(writeMutex_);
        retryCheckpoint(db);
        bool committing = false;
        try {
            // IMMEDIATE takes the write lock up front, so the sequence read below cannot
            // be read by another insert before this one commits.
            Transaction tx(db, "BEGIN IMMEDIATE");
            std::int64_t sequence = 0;
            if (const auto* ins = std::get_if<InsertComment>(&statement)) {
                checkCodes(db, ins->fields);
                sequence = insertComment(db, ins->vendor, ins->fields);
            } else if (const auto* upd = std::get_if<UpdateComment>(&statement)) {
                checkCodes(db, upd->fields);
                Query q(db, kUpdate);
                q.bind(1, upd->vendor).bind(2, upd->sequence);
                bindFields(q, upd->fields);
                q.step();
                // Another desk may have deleted the comment meanwhile; saying so beats
                // reporting a save that changed nothing.
                if (sqlite3_changes(db) == 0) {
                    throw Refused{"comment " + std::to_string(upd->sequence) + " of vendor " +
                                  upd->vendor + " no longer exists"};
                }
            } else {
                const auto& del = std::get<DeleteComment>(statement);
                Query q(db, kDelete);
                q.bind(1, del.vendor).bind(2, del.sequence);
                q.step();
            }
            committing = true;
            tx.commit();
            return {ExecResult::Outcome::Done, {}, sequence};
        } catch (const Refused& r) {
            return {ExecResult::Outcome::Refused, r.message, 0};
        } catch (const DbError& e) {
            if ((e.code & 0xFF) == SQLITE_FULL || (e.code & 0xFF) == SQLITE_IOERR) {
                wantCheckpoint(db);
            }
            return failure(e, committing);
        }
    }

    void seed(const DemoData& data) override {
        Lease lease(*this);
        sqlite3* db = lease.db();
        std::lock_guard writer(writeMutex_);
        try {
            Transaction tx(db, "BEGIN IMMEDIATE");
            for (const auto& [table, entries] : {std::pair{"CommentLocation", &data.locations},
                                                 std::pair{"CommentType", &data.types}}) {
                const std::string sql =
                    std::string("INSERT OR IGNORE INTO ") + table + " (Code, Name) VALUES (?1, ?2)";
                for (const auto& e : *entries) {
                    Query q(db, sql.c_str());
                    q.bind(1, e.code).bind(2, e.name);
                    q.step();
                }
            }
            std::set<std::string> vendorsWithComments;
            for (const auto& c : data.comments) {
                Query q(db, kCountComments);
                q.bind(1, c.vendor);
                q.step();
                if (q.integer(0) > 0) {
                    vendorsWithComments.insert(c.vendor);
                }
            }
            for (const auto& c : data.comments) {
                if (!vendorsWithComments.contains(c.vendor)) {
                    insertComment(db, c.vendor,
                                  {c.type, c.location, c.effective, c.expires, c.comment});
                }
            }
            tx.commit();
        } catch (const DbError& e) {
            throw StoreError(describe(e));
        }
    }

    std::vector<LookupEntry> lookups(LookupKind kind) override {
        return read([&](sqlite3* db) {
            return readLookup(
                db, (std::string("SELECT Code, Name FROM ") + lookupTable(kind) + " ORDER BY Code")
                        .c_str());
        });
    }

    void addLookup(LookupKind kind, std::int64_t code, const std::string& name) override {
        write([&](sqlite3* db) {
            if (const auto found = lookupName(db, kind, code)) {
                throw StoreRefusal(entryName(kind, code, *found) + " already exists");
            }
            Query q(db, (std::string("INSERT INTO ") + lookupTable(kind) +
                         " (Code, Name) VALUES (?1, ?2)")
                            .c_str());
            q.bind(1, code).bind(2, name);
            q.step();
            return 0;
        });
    }

    void renameLookup(LookupKind kind, std::int64_t code, const std::string& name) override {
        write([&](sqlite3* db) {
            Query q(db,
                    (std::string("UPDATE ") + lookupTable(kind) + " SET Name = ?2 WHERE Code = ?1")
                        .c_str());
            q.bind(1, code).bind(2, name);
            q.step();
            if (sqlite3_changes(db) == 0) {
                throw StoreRefusal(std::string("there is no ") + lookupKindName(kind) + " " +
                                   std::to_string(code));
            }
            return 0;
        });
    }

    std::int64_t removeLookup(LookupKind kind, std::int64_t code, bool force) override {
        return write([&](sqlite3* db) {
            const auto found = lookupName(db, kind, code);
            if (!found) {
                throw StoreRefusal(std::string("there is no ") + lookupKindName(kind) + " " +
                                   std::to_string(code));
            }
            Query count(db, (std::string("SELECT COUNT(*) FROM VendorComment WHERE ") +
                             lookupColumn(kind) + " = ?1")
                                .c_str());
            count.bind(1, code);
            count.step();
            const std::int64_t used = count.integer(0);
            if (used > 0 && !force) {
                throw StoreRefusal(entryName(kind, code, *found) + " is used by " +
                                   std::to_string(used) +
                                   " comments; --force removes it and deletes them");
            }
            Query comments(
                db, (std::string("DELETE FROM VendorComment WHERE ") + lookupColumn(kind) + " = ?1")
                        .c_str());
            comments.bind(1, code);
            comments.step();
            Query entry(
                db, (std::string("DELETE FROM ") + lookupTable(kind) + " WHERE Code = ?1").c_str());
            entry.bind(1, code);
            entry.step();
            return used;
        });
    }

    ImportOutcome importComments(const std::vector<ImportedComment>& rows, bool dryRun) override {
        return write(
            [&](sqlite3* db) {
                ImportOutcome out;
                const auto types = readLookup(db, "SELECT Code, Name FROM CommentType");
                const auto locations = readLookup(db, "SELECT Code, Name FROM CommentLocation");
                Query exists(db, kSequenceExists);
                Query next(db, kNextSequence);
                Query insert(db, kImport);
                for (const auto& row : rows) {
                    const auto type = resolveLookup(types, row.type);
                    const auto location = resolveLookup(locations, row.location);
                    if (!type || !location) {
                        out.refused.push_back(
                            {row.line, unknownLookupRefusal(row, type.has_value())});
                        continue;
                    }
                    std::int64_t sequence = 0;
                    if (row.sequence) {
                        exists.reset();
                        exists.bind(1, row.vendor).bind(2, *row.sequence);
                        if (exists.step()) {
                            out.refused.push_back({row.line, takenSequenceRefusal(row)});
                            continue;
                        }
                        sequence = *row.sequence;
                    } else {
                        next.reset();
                        next.bind(1, row.vendor);
                        next.step();
                        sequence = next.integer(0);
                    }
                    insert.reset();
                    insert.bind(1, row.vendor)
                        .bind(2, sequence)
                        .bind(3, *type)
                        .bind(4, *location)
                        .bind(5, row.effective)
                        .bind(6, row.expires)
                        .bind(7, row.comment);
                    if (row.lastUpdated.empty()) {
                        insert.bindNull(8);
                    } else {
                        insert.bind(8, row.lastUpdated);
                    }
                    insert.step();
                    ++out.imported;
                }
                return out;
            },
            [&](const ImportOutcome& out) { return !dryRun && out.refused.empty(); });
    }

    void exportComments(const std::optional<std::string>& vendor,
                        const std::function<void(const ExportedComment&)>& row) override {
        read([&](sqlite3* db) {
            Query q(db, kExport);
            if (vendor) {
                q.bind(1, *vendor);
            }
            while (q.step()) {
                row({q.text(0), q.integer(1), q.integer(2), q.integer(3), q.text(4), q.text(5),
                     q.text(6), q.text(7)});
            }
            return 0;
        });
    }

private:
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

    static int userVersion(sqlite3* db) {
        Query q(db, "PRAGMA user_version");
        q.step();
        return static_cast<int>(q.integer(0));
    }

    static std::optional<std::string> lookupName(sqlite3* db, LookupKind kind, std::int64_t code) {
        Query q(
            db,
            (std::string("SELECT Name FROM ") + lookupTable(kind) + " WHERE Code = ?1").c_str());
        q.bind(1, code);
        if (!q.step()) {
            return std::nullopt;
        }
        return q.text(0);
    }

    // Runs an operator's read in one snapshot.
    template <typename Call> std::invoke_result_t<Call, sqlite3*> read(Call call) {
        Lease lease(*this);
        try {
            Transaction snapshot(lease.db(), "BEGIN");
            auto result = call(lease.db());
            snapshot.commit();
            return result;
        } catch (const DbError& e) {
            throw StoreError(describe(e));
        }
    }

    // Runs an operator's change in one write transaction, committed when keep says so.
    template <typename Call>
    std::invoke_result_t<Call, sqlite3*> write(
        Call call, const std::function<bool(const std::invoke_result_t<Call, sqlite3*>&)>& keep =
                       [](const auto&) { return true; }) {
        Lease lease(*this);
        sqlite3* db = lease.db();
        std::lock_guard writer(writeMutex_);
        try {
            Transaction tx(db, "BEGIN IMMEDIATE");
            auto result = call(db);
            if (keep(result)) {
                tx.commit();
            }
            return result;
        } catch (const DbError& e) {
            if ((e.code & 0xFF) == SQLITE_BUSY) {
                throw StoreError("the database stayed busy (locked by another writer); try again");
            }
            throw StoreError(describe(e));
        }
    }

    // A connection borrowed from the pool for one call; each is used by one thread at a time.
    class Lease {
    public:
        explicit Lease(SqliteCommentStore& store) : store_(store), db_(store.acquire()) {}
        ~Lease() { store_.release(std::move(db_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        sqlite3* db() const { return db_.get(); }

    private:
        SqliteCommentStore& store_;
        Connection db_;
    };

    Connection connect() {
        sqlite3* raw = nullptr;
        const int rc =
            sqlite3_open_v2(file_.c_str(), &raw,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, vfs_);
        Connection db(raw);
        if (rc != SQLITE_OK) {
            throw StoreError(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        }
        sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
        sqlite3_extended_result_codes(db.get(), 1);
        exec(db.get(), "PRAGMA foreign_keys = ON");
        exec(db.get(), ("PRAGMA journal_size_limit = " + std::to_string(kWalSizeLimit)).c_str());
        // In place of SQLite's automatic checkpoint, whose failures nobody would hear of.
        sqlite3_wal_hook(db.get(), &SqliteCommentStore::afterCommit, this);
        return db;
    }

    static int afterCommit(void* self, sqlite3* db, const char*, int walPages) {
        auto* store = static_cast<SqliteCommentStore*>(self);
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

    Connection acquire() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                Connection db = std::move(idle_.back());
                idle_.pop_back();
                return db;
            }
        }
        try {
            return connect();
        } catch (const DbError& e) {
            throw StoreError(describe(e));
        }
    }

    void release(Connection db) {
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(db));
    }

    static ExecResult failure(const DbError& e, bool committing) {
        const int primary = e.code & 0xFF;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
            // The transaction stays open after a busy COMMIT, and is rolled back.
            return {ExecResult::Outcome::Busy, "The database is busy; try again.", 0};
        }
        if (committing) {
            // The commit's pages may be in the log though it was not made durable (a failed
            // fsync), and then count after a restart; or they may be lost.
            return {ExecResult::Outcome::Failed,
                    "The commit could not be written to the database file: " + withSystemError(e) +
                        "; " + kMayHaveTakenEffect,
                    0};
        }
        if (isReadError(e)) {
            return {ExecResult::Outcome::Failed,
                    "Reading the database file failed: " + withSystemError(e) +
                        "; nothing was changed.",
                    0};
        }
        if (primary == SQLITE_CONSTRAINT) {
            return {ExecResult::Outcome::Refused,
                    "The statement breaks a rule of the table: " + e.message + ".", 0};
        }
        return {ExecResult::Outcome::Failed, "Database error: " + e.message + ".", 0};
    }

    std::filesystem::path file_;
    const SqliteOptions options_;
    const char* vfs_;
    std::mutex mutex_; // guards idle_
    std::vector<Connection> idle_;
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
    return std::make_unique<SqliteCommentStore>(file, options);
}

} // namespace vcserver
