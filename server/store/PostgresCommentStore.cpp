#include "store/CommentStore.h"
#include "store/PostgresUri.h"

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <utility>

namespace vcserver {

namespace {

// Used when the URI sets none: a database that is down or unreachable answers a request
// within this time instead of holding it.
constexpr const char* kConnectTimeoutSeconds = "5";
// Bounds the wait for unacknowledged data on an established connection whose peer vanished
// (the kernel's own default retries for many minutes).
constexpr const char* kTcpUserTimeoutMs = "15000";

struct TableDef {
    const char* name;
    const char* create;
    std::vector<const char*> columns;
};

// The tables of the SQLite store in PostgreSQL's types. Referenced tables come first.
const TableDef kTables[] = {
    {"CommentType",
     "CREATE TABLE CommentType (Code bigint PRIMARY KEY, Name text NOT NULL)",
     {"Code", "Name"}},
    {"CommentLocation",
     "CREATE TABLE CommentLocation (Code bigint PRIMARY KEY, Name text NOT NULL)",
     {"Code", "Name"}},
    {"VendorComment",
     "CREATE TABLE VendorComment ("
     "VendorID text NOT NULL, CommentSequence bigint NOT NULL, "
     "Type bigint NOT NULL REFERENCES CommentType (Code), "
     "Location bigint NOT NULL REFERENCES CommentLocation (Code), "
     "Effective date, Expires date, Comment text NOT NULL, "
     "RecordLastUpdated timestamptz NOT NULL, PRIMARY KEY (VendorID, CommentSequence))",
     {"VendorID", "CommentSequence", "Type", "Location", "Effective", "Expires", "Comment",
      "RecordLastUpdated"}},
};

// The one-row table that records the schema version; made with the tables.
const char* const kCreateVersion =
    "CREATE TABLE SchemaVersion (Id integer PRIMARY KEY DEFAULT 1 CHECK (Id = 1), "
    "Version integer NOT NULL)";

// The steps from each schema version to the next: kMigrations[v - 1] takes a database of
// version v to v + 1, in the transaction that records the new version.
const std::array<const char*, kSchemaVersion - 1> kMigrations = {};

const char* lookupTable(LookupKind kind) {
    return kind == LookupKind::Type ? "CommentType" : "CommentLocation";
}
const char* lookupColumn(LookupKind kind) {
    return kind == LookupKind::Type ? "Type" : "Location";
}

std::string entryName(LookupKind kind, std::int64_t code, const std::string& name) {
    return std::string(lookupKindName(kind)) + " " + std::to_string(code) + " (" + name + ")";
}

// Creating the tables takes this advisory lock, so that servers starting together do not
// race on the catalogue. (1447251284 is "VCMT"; the vendor locks use that class.)
const char* const kLockSchema = "SELECT pg_advisory_xact_lock(1447251285, 0)";

struct StatementDef {
    const char* tables; // named in the error when the statement does not fit the tables
    const char* sql;
};

// Names sort as SQLite's "Name COLLATE NOCASE, Name, Code" does: ASCII letters folded, then
// byte order. lower() under the "C" collation folds ASCII only, and "C" compares bytes,
// whatever the database's default collation.
//
// Sequences: an insert first takes the advisory lock of its vendor (class "VCMT", the hash of
// the key), then reads the vendor's highest sequence in a later statement of the same
// READ COMMITTED transaction, so it sees every insert that held the lock before it. The lock
// is let go at commit or rollback, also when the connection breaks.
//
// Every statement goes as an unnamed one with its parameters (PQexecParams), never as a named
// prepared statement: behind a pooler in transaction mode a named statement outlives the
// transaction on a server connection that the next client may get, or is missing on the
// one this client gets next.
const StatementDef kLocations = {"CommentLocation",
                                 "SELECT Code, Name FROM CommentLocation "
                                 "ORDER BY lower(Name COLLATE \"C\"), Name COLLATE \"C\", Code"};
const StatementDef kTypes = {"CommentType",
                             "SELECT Code, Name FROM CommentType "
                             "ORDER BY lower(Name COLLATE \"C\"), Name COLLATE \"C\", Code"};
const StatementDef kComments = {
    "VendorComment",
    "SELECT c.VendorID, c.CommentSequence, c.Type, COALESCE(t.Name, ''), c.Location, "
    "COALESCE(l.Name, ''), COALESCE(to_char(c.Effective, 'YYYY-MM-DD'), ''), "
    "COALESCE(to_char(c.Expires, 'YYYY-MM-DD'), ''), c.Comment "
    "FROM VendorComment c "
    "LEFT JOIN CommentType t ON t.Code = c.Type "
    "LEFT JOIN CommentLocation l ON l.Code = c.Location "
    "WHERE c.VendorID = $1 ORDER BY c.CommentSequence"};
const StatementDef kCodes = {"CommentType and CommentLocation",
                             "SELECT EXISTS (SELECT 1 FROM CommentType WHERE Code = $1::bigint), "
                             "EXISTS (SELECT 1 FROM CommentLocation WHERE Code = $2::bigint)"};
const StatementDef kLock = {"VendorComment",
                            "SELECT pg_advisory_xact_lock(1447251284, hashtext($1::text))"};
const StatementDef kInsert = {
    "VendorComment",
    "INSERT INTO VendorComment (VendorID, CommentSequence, Type, Location, Effective, "
    "Expires, Comment, RecordLastUpdated) "
    "SELECT $1::text, COALESCE(MAX(CommentSequence), 0) + 1, $2::bigint, $3::bigint, "
    "$4::date, $5::date, $6::text, now() "
    "FROM VendorComment WHERE VendorID = $1::text RETURNING CommentSequence"};
const StatementDef kUpdate = {
    "VendorComment",
    "UPDATE VendorComment SET Type = $3::bigint, Location = $4::bigint, Effective = $5::date, "
    "Expires = $6::date, Comment = $7::text, RecordLastUpdated = now() "
    "WHERE VendorID = $1::text AND CommentSequence = $2::bigint"};
const StatementDef kDelete = {
    "VendorComment",
    "DELETE FROM VendorComment WHERE VendorID = $1::text AND CommentSequence = $2::bigint"};
const StatementDef kCount = {"VendorComment",
                             "SELECT COUNT(*) FROM VendorComment WHERE VendorID = $1::text"};
const StatementDef kSequenceExists = {"VendorComment",
                                      "SELECT 1 FROM VendorComment WHERE VendorID = $1::text AND "
                                      "CommentSequence = $2::bigint"};
const StatementDef kNextSequence = {
    "VendorComment",
    "SELECT COALESCE(MAX(CommentSequence), 0) + 1 FROM VendorComment WHERE VendorID = $1::text"};
// An imported comment keeps the time it was last updated elsewhere when the file gives it
// (read in the session's time zone).
const StatementDef kImport = {
    "VendorComment",
    "INSERT INTO VendorComment (VendorID, CommentSequence, Type, Location, Effective, "
    "Expires, Comment, RecordLastUpdated) VALUES ($1::text, $2::bigint, $3::bigint, "
    "$4::bigint, $5::date, $6::date, $7::text, COALESCE($8::timestamptz, now()))"};
const StatementDef kExport = {
    "VendorComment", "SELECT VendorID, CommentSequence, Type, Location, "
                     "COALESCE(to_char(Effective, 'YYYY-MM-DD'), ''), "
                     "COALESCE(to_char(Expires, 'YYYY-MM-DD'), ''), Comment, "
                     "to_char(RecordLastUpdated, 'YYYY-MM-DD HH24:MI:SS.US') FROM VendorComment "
                     "WHERE $1::text IS NULL OR VendorID = $1::text "
                     "ORDER BY VendorID COLLATE \"C\", CommentSequence"};
const StatementDef* const kStatements[] = {
    &kLocations, &kTypes, &kComments,       &kCodes,        &kLock,   &kInsert, &kUpdate,
    &kDelete,    &kCount, &kSequenceExists, &kNextSequence, &kImport, &kExport};

// A failed call. lost: the connection is gone, so the transaction was rolled back unless
// the failure came from its COMMIT.
struct PgError {
    std::string message; // one line
    std::string sqlstate;
    bool lost = false;
    bool duringCommit = false;
};

struct Refused {
    std::string message;
};

using Param = std::optional<std::string>;

class Result {
public:
    explicit Result(PGresult* r) : r_(r) {}
    ~Result() { PQclear(r_); }
    Result(Result&& other) noexcept : r_(std::exchange(other.r_, nullptr)) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    Result& operator=(Result&&) = delete;

    int rows() const { return PQntuples(r_); }
    std::string text(int row, int col) const {
        return {PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col))};
    }
    std::int64_t integer(int row, int col) const {
        std::int64_t value = 0;
        const char* p = PQgetvalue(r_, row, col);
        std::from_chars(p, p + PQgetlength(r_, row, col), value);
        return value;
    }
    bool boolean(int row, int col) const { return PQgetvalue(r_, row, col)[0] == 't'; }
    std::int64_t affected() const {
        std::int64_t value = 0;
        const char* p = PQcmdTuples(r_);
        std::from_chars(p, p + std::char_traits<char>::length(p), value);
        return value;
    }

private:
    PGresult* r_;
};

class Connection {
public:
    explicit Connection(PGconn* c) : c_(c) {}
    ~Connection() { PQfinish(c_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    PGconn* get() const { return c_; }
    bool lost() const { return PQstatus(c_) != CONNECTION_OK; }

    // Runs one of the store's statements; throws PgError unless it succeeds.
    Result run(const StatementDef& statement, const std::vector<Param>& params) const {
        return execParams(statement.sql, params);
    }

    // Runs a statement without parameters.
    Result exec(const char* sql) const { return check(PQexec(c_, sql)); }

    Result execParams(const char* sql, const std::vector<Param>& params) const {
        std::vector<const char*> values;
        for (const auto& p : params) {
            values.push_back(p ? p->c_str() : nullptr);
        }
        return check(PQexecParams(c_, sql, static_cast<int>(values.size()), nullptr, values.data(),
                                  nullptr, nullptr, 0));
    }

    Result check(PGresult* raw) const {
        Result result(raw);
        const auto status = PQresultStatus(raw);
        if (raw && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)) {
            return result;
        }
        const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
        const char* primary = raw ? PQresultErrorField(raw, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const std::string sqlstate = state ? state : "";
        // The server's last word before closing may arrive before libpq has seen the close.
        const bool closing = sqlstate.starts_with("08") || sqlstate == "57P01" ||
                             sqlstate == "57P02" || sqlstate == "57P03";
        throw PgError{oneLine(primary ? primary : PQerrorMessage(c_)), sqlstate, closing || lost()};
    }

private:
    PGconn* c_;
};

// Time limits of one transaction, as SET LOCAL so that they end with it (also behind a
// pooler, where a session's settings would stay with a server connection another client gets).
struct Limits {
    std::chrono::milliseconds lock;
    std::chrono::milliseconds statement;
};

// Rolls back unless committed.
class Transaction {
public:
    Transaction(const Connection& c, const char* begin, const Limits& limits) : c_(c) {
        c_.exec((std::string(begin) +
                 "; SET LOCAL lock_timeout = " + std::to_string(limits.lock.count()) +
                 "; SET LOCAL statement_timeout = " + std::to_string(limits.statement.count()))
                    .c_str());
    }
    ~Transaction() {
        if (!done_ && !c_.lost()) {
            PQclear(PQexec(c_.get(), "ROLLBACK"));
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit() {
        done_ = true;
        try {
            c_.exec("COMMIT");
        } catch (PgError& e) {
            e.duringCommit = true;
            throw;
        }
    }

private:
    const Connection& c_;
    bool done_ = false;
};

// Unquoted names are stored folded to lower case.
std::string lowered(std::string_view name) {
    std::string out(name);
    for (char& ch : out) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return out;
}

std::string number(std::int64_t value) {
    return std::to_string(value);
}

Param dateParam(const std::optional<CalendarDate>& date) {
    return date ? Param(isoDate(*date)) : std::nullopt;
}

std::vector<LookupEntry> readLookup(const Connection& c, const StatementDef& statement) {
    const Result r = c.run(statement, {});
    std::vector<LookupEntry> entries;
    entries.reserve(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i) {
        entries.push_back({r.integer(i, 0), r.text(i, 1)});
    }
    return entries;
}

void checkCodes(const Connection& c, const CommentFields& f) {
    const Result r = c.run(kCodes, {number(f.type), number(f.location)});
    if (!r.boolean(0, 0)) {
        throw Refused{"Comment type " + std::to_string(f.type) + " does not exist."};
    }
    if (!r.boolean(0, 1)) {
        throw Refused{"Comment location " + std::to_string(f.location) + " does not exist."};
    }
}

std::int64_t insertComment(const Connection& c, const std::string& vendor, const CommentFields& f) {
    c.run(kLock, {vendor});
    const Result r = c.run(kInsert, {vendor, number(f.type), number(f.location),
                                     dateParam(f.effective), dateParam(f.expires), f.comment});
    return r.integer(0, 0);
}

// Connection parameters: the URI's own, plus defaults for what it leaves open.
class ConnectParams {
public:
    explicit ConnectParams(const std::string& uri) : uri_(uri) {
        char* error = nullptr;
        PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
        if (!options) {
            const std::string message = error ? error : "the URI could not be read";
            PQfreemem(error);
            throw StoreError(scrubbed(oneLine(message), uri));
        }
        for (auto* o = options; o->keyword; ++o) {
            if (o->val && *o->val) {
                keys_.emplace_back(o->keyword);
                values_.emplace_back(o->val);
            }
        }
        PQconninfoFree(options);
        setDefault("connect_timeout", kConnectTimeoutSeconds);
        setDefault("tcp_user_timeout", kTcpUserTimeoutMs);
        setDefault("fallback_application_name", "vendor-comment-server");
        // The store hands over and reads UTF-8 whatever the database's own encoding.
        set("client_encoding", "UTF8");
    }

    PGconn* connect() const {
        std::vector<const char*> keys, values;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            keys.push_back(keys_[i].c_str());
            values.push_back(values_[i].c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        return PQconnectdbParams(keys.data(), values.data(), 0);
    }

    const std::string& uri() const { return uri_; }

private:
    void setDefault(const char* key, const char* value) {
        if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) {
            set(key, value);
        }
    }
    void set(const char* key, const char* value) {
        const auto at = std::find(keys_.begin(), keys_.end(), key);
        if (at == keys_.end()) {
            keys_.emplace_back(key);
            values_.emplace_back(value);
        } else {
            values_[static_cast<std::size_t>(at - keys_.begin())] = value;
        }
    }

    std::string uri_;
    std::vector<std::string> keys_;
    std::vector<std::string> values_;
};

// Fails with the table named when it lacks a column the store uses, or has one the store
// cannot fill, or when the role may not use it.
void checkTable(const Connection& c, const TableDef& table) {
    const Result columns =
        c.execParams("SELECT a.attname, a.attnotnull AND NOT a.atthasdef AND a.attidentity = '' "
                     "AND a.attgenerated = '' "
                     "FROM pg_attribute a WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 "
                     "AND NOT a.attisdropped",
                     {table.name});
    std::set<std::string> present;
    std::vector<std::string> unfillable;
    for (int i = 0; i < columns.rows(); ++i) {
        present.insert(columns.text(i, 0));
        const bool known =
            std::any_of(table.columns.begin(), table.columns.end(),
                        [&](const char* name) { return lowered(name) == columns.text(i, 0); });
        if (!known && columns.boolean(i, 1)) {
            unfillable.push_back(columns.text(i, 0));
        }
    }
    std::string missing;
    for (const char* name : table.columns) {
        if (!present.contains(lowered(name))) {
            missing += (missing.empty() ? "" : ", ") + std::string(name);
        }
    }
    const std::string prefix = "table " + std::string(table.name) + " has other columns";
    if (!missing.empty()) {
        throw StoreError(prefix + " than this server uses: it lacks " + missing);
    }
    if (!unfillable.empty()) {
        throw StoreError(prefix + " than this server uses: " + unfillable.front() +
                         " needs a value and has no default");
    }
    const bool isComments = std::string_view(table.name) == "VendorComment";
    // The lookups are only read, except by --seed-demo, whose insert reports its own refusal.
    for (const char* right : {"SELECT", "INSERT", "UPDATE", "DELETE"}) {
        if (!isComments && std::string_view(right) != "SELECT") {
            break;
        }
        const Result r = c.execParams(
            "SELECT has_table_privilege(to_regclass($1), $2), current_user", {table.name, right});
        if (!r.boolean(0, 0)) {
            throw StoreError("role " + r.text(0, 1) + " may not " + right + " table " + table.name);
        }
    }
}

// PostgreSQL's own refusal ("no schema has been selected to create in") does not say whose
// rights are missing.
void checkMayCreate(const Connection& c, const TableDef& table) {
    const Result r = c.exec("SELECT current_user, current_schema(), "
                            "has_schema_privilege(current_schema(), 'CREATE'), "
                            "current_setting('search_path')");
    const std::string role = r.text(0, 0);
    if (r.text(0, 1).empty()) {
        throw StoreError("table " + std::string(table.name) + " is missing, and role " + role +
                         " may use no schema of its search_path (" + r.text(0, 3) +
                         ") to create it in");
    }
    if (!r.boolean(0, 2)) {
        throw StoreError("table " + std::string(table.name) + " is missing, and role " + role +
                         " may not create it in schema " + r.text(0, 1));
    }
}

class PostgresCommentStore : public CommentStore {
public:
    PostgresCommentStore(const std::string& uri, const PostgresOptions& options)
        : params_(uri), capacity_(std::max<std::size_t>(options.connections, 1)),
          limits_{options.lockTimeout, options.statementTimeout}, idleTime_(options.idleTime) {
        try {
            auto first = connect();
            createTables(*first);
            idle_.push_back({std::move(first), Clock::now()});
            open_ = 1;
        } catch (const PgError& e) {
            throw StoreError(scrubbed(e.message, params_.uri()));
        }
        closer_ = std::thread([this] { closeIdle(); });
    }

    ~PostgresCommentStore() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        idleChanged_.notify_all();
        closer_.join();
    }

    VendorComments load(const std::string& vendor) override {
        try {
            return withConnection([&](const Connection& c) {
                VendorComments out;
                Transaction snapshot(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", limits_);
                out.locations = readLookup(c, kLocations);
                out.types = readLookup(c, kTypes);
                const Result r = c.run(kComments, {vendor});
                out.comments.reserve(static_cast<std::size_t>(r.rows()));
                for (int i = 0; i < r.rows(); ++i) {
                    out.comments.push_back({r.text(i, 0), r.integer(i, 1), r.integer(i, 2),
                                            r.text(i, 3), r.integer(i, 4), r.text(i, 5),
                                            r.text(i, 6), r.text(i, 7), r.text(i, 8)});
                }
                snapshot.commit();
                return out;
            });
        } catch (const PgError& e) {
            if (!e.lost && gaveUp(e)) {
                throw StoreBusy(busyText(e));
            }
            throw StoreError(describe(e));
        }
    }

    ExecResult execute(const Statement& statement) override {
        try {
            return withConnection([&](const Connection& c) -> ExecResult {
                // READ COMMITTED whatever the database's default: the sequence read after the
                // vendor lock must see the inserts committed while waiting for it.
                Transaction tx(c, "BEGIN ISOLATION LEVEL READ COMMITTED", limits_);
                std::int64_t sequence = 0;
                if (const auto* ins = std::get_if<InsertComment>(&statement)) {
                    checkCodes(c, ins->fields);
                    sequence = insertComment(c, ins->vendor, ins->fields);
                } else if (const auto* upd = std::get_if<UpdateComment>(&statement)) {
                    checkCodes(c, upd->fields);
                    const auto& f = upd->fields;
                    const Result r =
                        c.run(kUpdate, {upd->vendor, number(upd->sequence), number(f.type),
                                        number(f.location), dateParam(f.effective),
                                        dateParam(f.expires), f.comment});
                    if (r.affected() == 0) {
                        throw Refused{"comment " + number(upd->sequence) + " of vendor " +
                                      upd->vendor + " no longer exists"};
                    }
                } else {
                    const auto& del = std::get<DeleteComment>(statement);
                    c.run(kDelete, {del.vendor, number(del.sequence)});
                }
                tx.commit();
                return {ExecResult::Outcome::Done, {}, sequence};
            });
        } catch (const Refused& r) {
            return {ExecResult::Outcome::Refused, r.message, 0};
        } catch (const PgError& e) {
            return failure(e);
        }
    }

    void seed(const DemoData& data) override {
        try {
            withConnection([&](const Connection& c) {
                Transaction tx(c, "BEGIN ISOLATION LEVEL READ COMMITTED", limits_);
                for (const auto& [table, entries] : {std::pair{"CommentLocation", &data.locations},
                                                     std::pair{"CommentType", &data.types}}) {
                    const std::string sql = std::string("INSERT INTO ") + table +
                                            " (Code, Name) VALUES ($1::bigint, $2::text) "
                                            "ON CONFLICT DO NOTHING";
                    for (const auto& e : *entries) {
                        c.execParams(sql.c_str(), {number(e.code), e.name});
                    }
                }
                // Vendors in key order, so two servers seeding at once cannot deadlock.
                std::set<std::string> vendors;
                for (const auto& comment : data.comments) {
                    vendors.insert(comment.vendor);
                }
                std::set<std::string> vendorsWithComments;
                for (const auto& vendor : vendors) {
                    c.run(kLock, {vendor});
                    if (c.run(kCount, {vendor}).integer(0, 0) > 0) {
                        vendorsWithComments.insert(vendor);
                    }
                }
                for (const auto& d : data.comments) {
                    if (!vendorsWithComments.contains(d.vendor)) {
                        insertComment(c, d.vendor,
                                      {d.type, d.location, d.effective, d.expires, d.comment});
                    }
                }
                tx.commit();
                return 0;
            });
        } catch (const PgError& e) {
            throw StoreError(describe(e));
        }
    }

    std::vector<LookupEntry> lookups(LookupKind kind) override {
        return read([&](const Connection& c) {
            const std::string sql =
                std::string("SELECT Code, Name FROM ") + lookupTable(kind) + " ORDER BY Code";
            return readLookup(c, {lookupTable(kind), sql.c_str()});
        });
    }

    void addLookup(LookupKind kind, std::int64_t code, const std::string& name) override {
        write([&](const Connection& c) {
            // Two adds of one code at once: the second waits here and then sees the first.
            c.exec((std::string("LOCK TABLE ") + lookupTable(kind) + " IN EXCLUSIVE MODE").c_str());
            if (const auto found = lookupName(c, kind, code)) {
                throw StoreRefusal(entryName(kind, code, *found) + " already exists");
            }
            c.execParams((std::string("INSERT INTO ") + lookupTable(kind) +
                          " (Code, Name) VALUES ($1::bigint, $2::text)")
                             .c_str(),
                         {number(code), name});
            return 0;
        });
    }

    void renameLookup(LookupKind kind, std::int64_t code, const std::string& name) override {
        write([&](const Connection& c) {
            const Result r = c.execParams((std::string("UPDATE ") + lookupTable(kind) +
                                           " SET Name = $2::text WHERE Code = $1::bigint")
                                              .c_str(),
                                          {number(code), name});
            if (r.affected() == 0) {
                throw StoreRefusal(std::string("there is no ") + lookupKindName(kind) + " " +
                                   number(code));
            }
            return 0;
        });
    }

    std::int64_t removeLookup(LookupKind kind, std::int64_t code, bool force) override {
        return write([&](const Connection& c) {
            // Holds off inserts that would use the entry between the count and the delete.
            c.exec((std::string("LOCK TABLE ") + lookupTable(kind) + " IN EXCLUSIVE MODE").c_str());
            const auto found = lookupName(c, kind, code);
            if (!found) {
                throw StoreRefusal(std::string("there is no ") + lookupKindName(kind) + " " +
                                   number(code));
            }
            const std::int64_t used =
                c.execParams((std::string("SELECT COUNT(*) FROM VendorComment WHERE ") +
                              lookupColumn(kind) + " = $1::bigint")
                                 .c_str(),
                             {number(code)})
                    .integer(0, 0);
            if (used > 0 && !force) {
                throw StoreRefusal(entryName(kind, code, *found) + " is used by " + number(used) +
                                   " comments; --force removes it and deletes them");
            }
            c.execParams((std::string("DELETE FROM VendorComment WHERE ") + lookupColumn(kind) +
                          " = $1::bigint")
                             .c_str(),
                         {number(code)});
            c.execParams(
                (std::string("DELETE FROM ") + lookupTable(kind) + " WHERE Code = $1::bigint")
                    .c_str(),
                {number(code)});
            return used;
        });
    }

    ImportOutcome importComments(const std::vector<ImportedComment>& rows, bool dryRun) override {
        return write(
            [&](const Connection& c) {
                ImportOutcome out;
                // One table lock rather than a lock per vendor, which for thousands of vendors
                // would fill the server's lock table. It holds every other change back until
                // the import ends (reads go on), so the sequences read below stay the highest.
                c.exec("LOCK TABLE VendorComment IN SHARE ROW EXCLUSIVE MODE");
                const auto types = readLookup(c, kTypes);
                const auto locations = readLookup(c, kLocations);
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
                        if (c.run(kSequenceExists, {row.vendor, number(*row.sequence)}).rows() >
                            0) {
                            out.refused.push_back({row.line, takenSequenceRefusal(row)});
                            continue;
                        }
                        sequence = *row.sequence;
                    } else {
                        sequence = c.run(kNextSequence, {row.vendor}).integer(0, 0);
                    }
                    c.run(kImport, {row.vendor, number(sequence), number(*type), number(*location),
                                    dateParam(row.effective), dateParam(row.expires), row.comment,
                                    row.lastUpdated.empty() ? Param() : Param(row.lastUpdated)});
                    ++out.imported;
                }
                return out;
            },
            [&](const ImportOutcome& out) { return !dryRun && out.refused.empty(); },
            // A long import is not held to a request's time limit.
            Limits{limits_.lock, std::chrono::milliseconds(0)});
    }

    void exportComments(const std::optional<std::string>& vendor,
                        const std::function<void(const ExportedComment&)>& row) override {
        read([&](const Connection& c) {
            const Result r = c.run(kExport, {vendor ? Param(*vendor) : Param()});
            for (int i = 0; i < r.rows(); ++i) {
                row({r.text(i, 0), r.integer(i, 1), r.integer(i, 2), r.integer(i, 3), r.text(i, 4),
                     r.text(i, 5), r.text(i, 6), r.text(i, 7)});
            }
            return 0;
        });
    }

private:
    using Owned = std::unique_ptr<Connection>;

    static std::optional<std::string> lookupName(const Connection& c, LookupKind kind,
                                                 std::int64_t code) {
        const Result r = c.execParams(
            (std::string("SELECT Name FROM ") + lookupTable(kind) + " WHERE Code = $1::bigint")
                .c_str(),
            {number(code)});
        if (r.rows() == 0) {
            return std::nullopt;
        }
        return r.text(0, 0);
    }

    // An operator's read in one snapshot.
    template <typename Call> std::invoke_result_t<Call, const Connection&> read(Call call) {
        try {
            return withConnection([&](const Connection& c) {
                Transaction snapshot(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY",
                                     Limits{limits_.lock, std::chrono::milliseconds(0)});
                auto result = call(c);
                snapshot.commit();
                return result;
            });
        } catch (const PgError& e) {
            throw StoreError(describe(e));
        }
    }

    // An operator's change in one transaction, committed when keep says so.
    template <typename Call>
    std::invoke_result_t<Call, const Connection&> write(
        Call call,
        const std::function<bool(const std::invoke_result_t<Call, const Connection&>&)>& keep =
            [](const auto&) { return true; },
        std::optional<Limits> limits = std::nullopt) {
        try {
            return withConnection([&](const Connection& c) {
                Transaction tx(c, "BEGIN ISOLATION LEVEL READ COMMITTED", limits.value_or(limits_));
                auto result = call(c);
                if (keep(result)) {
                    tx.commit();
                }
                return result;
            });
        } catch (const PgError& e) {
            if (e.duringCommit && e.lost) {
                throw StoreError(std::string("the database connection was lost while "
                                             "committing; the change may or may not have taken "
                                             "effect"));
            }
            if (e.sqlstate.starts_with("23")) {
                throw StoreRefusal("the change breaks a rule of the table: " + describe(e));
            }
            throw StoreError(describe(e));
        }
    }
    using Clock = std::chrono::steady_clock;
    struct Idle {
        Owned connection;
        Clock::time_point since;
    };

    // A new connection; throws PgError when it cannot be had.
    Owned connect() const {
        auto c = std::make_unique<Connection>(params_.connect());
        if (c->lost()) {
            throw PgError{oneLine(PQerrorMessage(c->get())), "", true};
        }
        // Notices would otherwise go to standard error, between the request log lines.
        PQsetNoticeProcessor(
            c->get(), [](void*, const char*) {}, nullptr);
        return c;
    }

    // Checks that every statement fits the tables (as the unnamed statement, which the next
    // one replaces); one that does not names them.
    static void checkStatements(const Connection& c) {
        for (const StatementDef* s : kStatements) {
            try {
                c.check(PQprepare(c.get(), "", s->sql, 0, nullptr));
            } catch (PgError& e) {
                if (!e.lost) {
                    e.message = "table " + std::string(s->tables) + " does not fit: " + e.message;
                }
                throw;
            }
        }
    }

    // An existing database whose role may not create tables keeps working unrecorded, as
    // version 1; one that may gets the version table.
    static void recordVersion(const Connection& c) {
        if (!c.exec("SELECT has_schema_privilege(current_schema(), 'CREATE')").boolean(0, 0)) {
            return;
        }
        if (!c.execParams("SELECT to_regclass($1) IS NOT NULL", {"SchemaVersion"}).boolean(0, 0)) {
            c.exec(kCreateVersion);
        }
        c.exec(("INSERT INTO SchemaVersion (Version) VALUES (" + number(kSchemaVersion) +
                ") ON CONFLICT (Id) DO UPDATE SET Version = EXCLUDED.Version")
                   .c_str());
    }

    void createTables(const Connection& c) const {
        Transaction tx(c, "BEGIN ISOLATION LEVEL READ COMMITTED", limits_);
        c.exec(kLockSchema);
        int version = 0;
        if (c.execParams("SELECT to_regclass($1) IS NOT NULL", {"SchemaVersion"}).boolean(0, 0)) {
            const Result r = c.exec("SELECT Version FROM SchemaVersion");
            version = r.rows() > 0 ? static_cast<int>(r.integer(0, 0)) : 0;
        }
        if (version > kSchemaVersion) {
            throw PgError{"the database has schema version " + number(version) +
                              ", newer than this program's " + number(kSchemaVersion) +
                              "; use the newer program that wrote it",
                          "", false};
        }
        if (version == 0) {
            for (const auto& table : kTables) {
                const Result found =
                    c.execParams("SELECT to_regclass($1) IS NOT NULL", {table.name});
                if (!found.boolean(0, 0)) {
                    checkMayCreate(c, table);
                    c.exec(table.create);
                }
            }
        }
        for (int v = std::max(version, 1); v < kSchemaVersion; ++v) {
            c.exec(kMigrations[static_cast<std::size_t>(v - 1)]);
        }
        for (const auto& table : kTables) {
            checkTable(c, table);
        }
        checkStatements(c);
        if (version == 0) {
            recordVersion(c);
        } else if (version != kSchemaVersion) {
            c.exec(("UPDATE SchemaVersion SET Version = " + number(kSchemaVersion)).c_str());
        }
        tx.commit();
    }

    // A connection borrowed for one call. An idle one may have died with the database
    // (a restart); a call that finds its connection gone before COMMIT was sent changed
    // nothing, so it runs once more on a new connection.
    template <typename Call>
    std::invoke_result_t<Call, const Connection&> withConnection(Call call) {
        for (int attempt = 0;; ++attempt) {
            bool reused = false;
            Owned c = acquire(reused);
            try {
                auto result = call(*c);
                release(std::move(c));
                return result;
            } catch (const PgError& e) {
                if (!e.lost) {
                    release(std::move(c));
                    throw;
                }
                discard(std::move(c));
                if (attempt > 0 || !reused || e.duringCommit) {
                    throw;
                }
            } catch (...) {
                release(std::move(c));
                throw;
            }
        }
    }

    Owned acquire(bool& reused) {
        std::unique_lock lock(mutex_);
        available_.wait(lock, [&] { return !idle_.empty() || open_ < capacity_; });
        if (!idle_.empty()) {
            Owned c = std::move(idle_.back().connection);
            idle_.pop_back();
            reused = true;
            return c;
        }
        ++open_;
        lock.unlock();
        try {
            return connect();
        } catch (...) {
            lock.lock();
            --open_;
            available_.notify_one();
            throw;
        }
    }

    void release(Owned c) {
        std::lock_guard lock(mutex_);
        // Only a connection outside any transaction is fit for the next call.
        if (c->lost() || PQtransactionStatus(c->get()) != PQTRANS_IDLE) {
            --open_;
        } else {
            idle_.push_back({std::move(c), Clock::now()});
            if (idle_.size() == 1) {
                idleChanged_.notify_one();
            }
        }
        available_.notify_one();
    }

    // Closes connections idle for idleTime_; the most recently used are taken first, so the
    // oldest are at the front.
    void closeIdle() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            const auto now = Clock::now();
            std::vector<Owned> expired;
            while (!idle_.empty() && now - idle_.front().since >= idleTime_) {
                expired.push_back(std::move(idle_.front().connection));
                idle_.erase(idle_.begin());
                --open_;
            }
            if (!expired.empty()) {
                available_.notify_all();
                lock.unlock();
                expired.clear();
                lock.lock();
                continue;
            }
            const auto next = idle_.empty() ? now + idleTime_ : idle_.front().since + idleTime_;
            idleChanged_.wait_until(lock, next);
        }
    }

    // A lost connection usually means the database went away: the idle ones are gone too.
    void discard(Owned c) {
        std::vector<Idle> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(idle_);
            open_ -= dropped.size() + 1;
            available_.notify_all();
        }
        c.reset();
        dropped.clear();
    }

    std::string describe(const PgError& e) const {
        const std::string text = scrubbed(e.message, params_.uri());
        return e.lost ? "the database cannot be reached: " + text : text;
    }

    // Rolled back by the database because of a time limit, a deadlock or a conflict.
    static bool gaveUp(const PgError& e) {
        return e.sqlstate.starts_with("40") || e.sqlstate == "55P03" || e.sqlstate == "57014";
    }

    std::string busyText(const PgError& e) const {
        if (e.sqlstate == "55P03") {
            return "A lock held by another database session kept the statement waiting over " +
                   std::to_string(limits_.lock.count()) + " ms; nothing was changed: try again.";
        }
        if (e.sqlstate == "57014") {
            return "The database did not finish the statement within " +
                   std::to_string(limits_.statement.count()) + " ms (" +
                   scrubbed(e.message, params_.uri()) + "); nothing was changed: try again.";
        }
        return "The database is busy; try again.";
    }

    ExecResult failure(const PgError& e) const {
        if (e.duringCommit && e.lost) {
            return {ExecResult::Outcome::Failed,
                    std::string("The database connection was lost while committing; ") +
                        kMayHaveTakenEffect,
                    0};
        }
        if (e.lost) {
            return {ExecResult::Outcome::Failed, "Database error: " + describe(e) + ".", 0};
        }
        const std::string cls = e.sqlstate.substr(0, 2);
        if (gaveUp(e)) {
            return {ExecResult::Outcome::Busy, busyText(e), 0};
        }
        if (cls == "22" || cls == "23") {
            return {ExecResult::Outcome::Refused,
                    "The statement breaks a rule of the table: " + describe(e) + ".", 0};
        }
        return {ExecResult::Outcome::Failed, "Database error: " + describe(e) + ".", 0};
    }

    ConnectParams params_;
    std::size_t capacity_;
    const Limits limits_;
    const std::chrono::milliseconds idleTime_;
    std::mutex mutex_; // guards idle_, open_ and stopping_
    std::condition_variable available_;
    std::condition_variable idleChanged_;
    std::vector<Idle> idle_;
    std::size_t open_ = 0; // idle and lent out
    bool stopping_ = false;
    std::thread closer_;
};

} // namespace

std::unique_ptr<CommentStore> openPostgresStore(const std::string& uri, std::size_t connections) {
    PostgresOptions options;
    options.connections = connections;
    return std::make_unique<PostgresCommentStore>(uri, options);
}

std::unique_ptr<CommentStore> openPostgresStore(const std::string& uri,
                                                const PostgresOptions& options) {
    return std::make_unique<PostgresCommentStore>(uri, options);
}

} // namespace vcserver
