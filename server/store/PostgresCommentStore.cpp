#include "store/PostgresUri.h"
#include "store/StoreEngine.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <memory>
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
// Probes an idle connection, so one whose peer vanished is found before it is lent out.
constexpr const char* kKeepaliveIdleSeconds = "10";
constexpr const char* kKeepaliveIntervalSeconds = "5";
constexpr const char* kKeepaliveCount = "3";

// The one-row table that records the schema version; made with the tables.
const char* const kCreateVersion =
    "CREATE TABLE SchemaVersion (Id integer PRIMARY KEY DEFAULT 1 CHECK (Id = 1), "
    "Version integer NOT NULL)";

// Creating the tables takes this advisory lock, so that servers starting together do not
// race on the catalogue. (1447251284 is "VCMT"; the vendor locks use that class.)
const char* const kLockSchema = "SELECT pg_advisory_xact_lock(1447251285, 0)";

// The vendor's advisory lock (class "VCMT", the hash of the key) serialises the inserts of
// one vendor: each reads the vendor's highest sequence in a later statement of the same
// READ COMMITTED transaction, so it sees every insert that held the lock before it. The lock
// is let go at commit or rollback, also when the connection breaks.
const char* const kLockVendor = "SELECT pg_advisory_xact_lock(1447251284, hashtext($1::text))";

// A failed call. lost: the connection is gone, so the transaction was rolled back unless
// the failure came from its COMMIT. timedOut: the database did not answer by the deadline,
// and the connection was abandoned.
struct PgError {
    std::string message; // one line
    std::string sqlstate;
    bool lost = false;
    bool duringCommit = false;
    bool timedOut = false;
};

using Clock = std::chrono::steady_clock;

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
    std::string_view view(int row, int col) const {
        return {PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col))};
    }
    std::string text(int row, int col) const { return std::string(view(row, col)); }
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
    // An abandoned connection counts as lost: it is closed, never lent out again.
    bool lost() const { return abandoned_ || PQstatus(c_) != CONNECTION_OK; }

    // Every wait for an answer ends by the deadline. A database that is stopped (not gone)
    // keeps the TCP connection alive and runs none of its own time limits, so only the
    // client's clock ends the wait.
    void setDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }

    // Runs statements without parameters.
    Result exec(const char* sql) const { return answer(PQsendQuery(c_, sql)); }

    Result execParams(const char* sql, const std::vector<Param>& params) const {
        std::vector<const char*> values;
        for (const auto& p : params) {
            values.push_back(p ? p->c_str() : nullptr);
        }
        return answer(PQsendQueryParams(c_, sql, static_cast<int>(values.size()), nullptr,
                                        values.data(), nullptr, nullptr, 0));
    }

    // Compiles a statement as the unnamed one, which the next one replaces.
    Result prepareUnnamed(const char* sql) const {
        return answer(PQsendPrepare(c_, "", sql, 0, nullptr));
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
    // The results of what was sent: the first failure thrown, else the last result.
    Result answer(int sent) const {
        if (!sent) {
            throw PgError{oneLine(PQerrorMessage(c_)), "", true};
        }
        // Owned from the moment they arrive: a wait that ends by the deadline throws.
        std::optional<Result> last;
        std::unique_ptr<PGresult, decltype(&PQclear)> failure(nullptr, &PQclear);
        while (true) {
            awaitResult();
            PGresult* r = PQgetResult(c_);
            if (!r) {
                break;
            }
            const auto status = PQresultStatus(r);
            if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
                last.emplace(r);
            } else if (!failure) {
                failure.reset(r);
            } else {
                PQclear(r);
            }
        }
        if (failure || !last) {
            return check(failure.release());
        }
        return std::move(*last);
    }

    void awaitResult() const {
        while (PQisBusy(c_)) {
            int wait = -1;
            if (deadline_) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now());
                wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
            }
            pollfd fd{PQsocket(c_), POLLIN, 0};
            const int ready = poll(&fd, 1, wait);
            if (ready == 0) {
                abandoned_ = true;
                throw PgError{"the database did not answer", "", true, false, true};
            }
            if ((ready < 0 && errno != EINTR) || (ready > 0 && !PQconsumeInput(c_))) {
                abandoned_ = true;
                throw PgError{oneLine(PQerrorMessage(c_)), "", true};
            }
        }
    }

    PGconn* c_;
    std::optional<Clock::time_point> deadline_;
    mutable bool abandoned_ = false;
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
            try {
                c_.exec("ROLLBACK");
            } catch (const PgError&) {
                // The connection is lost or abandoned, which rolls the transaction back.
            }
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
        setDefault("keepalives", "1");
        setDefault("keepalives_idle", kKeepaliveIdleSeconds);
        setDefault("keepalives_interval", kKeepaliveIntervalSeconds);
        setDefault("keepalives_count", kKeepaliveCount);
        setDefault("fallback_application_name", "vendor-comment-server");
        // The store hands over and reads UTF-8 whatever the database's own encoding.
        set("client_encoding", "UTF8");
    }

    // Blocking, within connect_timeout; with a deadline, waiting until then at most (libpq's
    // connect_timeout does not hold for a connection made step by step).
    PGconn* connect(std::optional<Clock::time_point> deadline) const {
        std::vector<const char*> keys, values;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            keys.push_back(keys_[i].c_str());
            values.push_back(values_[i].c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        if (!deadline) {
            return PQconnectdbParams(keys.data(), values.data(), 0);
        }
        PGconn* c = PQconnectStartParams(keys.data(), values.data(), 0);
        auto step = PGRES_POLLING_WRITING;
        while (c && PQstatus(c) != CONNECTION_BAD && step != PGRES_POLLING_OK &&
               step != PGRES_POLLING_FAILED) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            pollfd fd{PQsocket(c),
                      static_cast<short>(step == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
            if (poll(&fd, 1, static_cast<int>(std::max<decltype(left)>(left, 0))) == 0) {
                PQfinish(c);
                throw PgError{"the database did not answer", "", true, false, true};
            }
            step = PQconnectPoll(c);
        }
        return c;
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
            std::any_of(table.columns.begin(), table.columns.end(), [&](const ColumnDef& column) {
                return lowered(column.name) == columns.text(i, 0);
            });
        if (!known && columns.boolean(i, 1)) {
            unfillable.push_back(columns.text(i, 0));
        }
    }
    std::string missing;
    for (const auto& column : table.columns) {
        if (!present.contains(lowered(column.name))) {
            missing += (missing.empty() ? "" : ", ") + std::string(column.name);
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
    const bool isLookup = std::string_view(table.name) == lookupTable(LookupKind::Type) ||
                          std::string_view(table.name) == lookupTable(LookupKind::Location);
    // The lookups are only read, except by --seed-demo, whose insert reports its own refusal.
    for (const char* right : {"SELECT", "INSERT", "UPDATE", "DELETE"}) {
        if (isLookup && std::string_view(right) != "SELECT") {
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

// The store's SQL writes "?N" where libpq wants "$N".
std::string positional(const std::string& sql) {
    std::string out = sql;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '?' && std::isdigit(static_cast<unsigned char>(out[i + 1]))) {
            out[i] = '$';
        }
    }
    return out;
}

// The rows of one result, all received at once.
class Rows : public SqlRows {
public:
    explicit Rows(Result r) : r_(std::move(r)) {}
    bool next() override { return ++row_ < r_.rows(); }
    std::int64_t integer(int column) const override { return r_.integer(row_, column); }
    std::string_view view(int column) const override { return r_.view(row_, column); }

private:
    Result r_;
    int row_ = -1;
};

// Every statement goes as an unnamed one with its parameters (PQexecParams), never as a named
// prepared statement: behind a pooler in transaction mode a named statement outlives the
// transaction on a server connection that the next client may get, or is missing on the
// one this client gets next.
class Session : public SqlSession {
public:
    Session(const Connection& c, const StoreEngine& engine) : c_(c), engine_(engine) {}

    std::unique_ptr<SqlRows> query(const std::string& sql, const SqlParams& params) override {
        return std::make_unique<Rows>(run(sql, params));
    }
    std::int64_t change(const std::string& sql, const SqlParams& params) override {
        return run(sql, params).affected();
    }
    void script(const std::string& sql) override { c_.exec(sql.c_str()); }
    // As the unnamed statement, which the next one replaces.
    std::string compileProblem(const std::string& sql) override {
        try {
            c_.prepareUnnamed(positional(sql).c_str());
            return {};
        } catch (const PgError& e) {
            if (e.lost) {
                throw;
            }
            return e.message;
        }
    }

    // Servers creating the tables at once, and two lookup changes of one code, queue here
    // rather than both passing the check.
    void lockSchema() override { c_.exec(kLockSchema); }
    void lockSequence(const std::string& vendor) override { c_.execParams(kLockVendor, {vendor}); }
    void lockLookups(LookupKind kind) override {
        c_.exec((std::string("LOCK TABLE ") + lookupTable(kind) + " IN EXCLUSIVE MODE").c_str());
    }
    // One table lock rather than a lock per vendor, which for thousands of vendors would fill
    // the server's lock table. It holds every other change back until the import ends (reads
    // go on), so the sequences read stay the highest.
    void lockForImport() override {
        c_.exec("LOCK TABLE VendorComment IN SHARE ROW EXCLUSIVE MODE");
    }

    int schemaVersion() override {
        if (!exists("SchemaVersion")) {
            return 0;
        }
        const Result r = c_.exec("SELECT Version FROM SchemaVersion");
        return r.rows() > 0 ? static_cast<int>(r.integer(0, 0)) : 0;
    }
    void createTables() override {
        for (const auto& table : storeTables()) {
            if (!exists(table.name)) {
                checkMayCreate(c_, table);
                c_.exec(createTable(table, engine_, false).c_str());
            }
        }
    }
    void checkTables() override {
        for (const auto& table : storeTables()) {
            checkTable(c_, table);
        }
    }
    // text or varchar under a deterministic collation (PostgreSQL 12 and later say which);
    // char(n) pads, citext folds case.
    bool keyComparesBytewise() override {
        if (PQserverVersion(c_.get()) < 120000) {
            return false;
        }
        const Result r = c_.exec(
            "SELECT t.typname IN ('text', 'varchar') AND COALESCE(co.collisdeterministic, TRUE) "
            "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
            "LEFT JOIN pg_collation co ON co.oid = a.attcollation "
            "WHERE a.attrelid = to_regclass('vendorcomment') AND a.attname = 'vendorid'");
        return r.rows() > 0 && r.boolean(0, 0);
    }
    // An existing database whose role may not create tables keeps working unrecorded, as
    // version 1; one that may gets the version table.
    void recordVersion(int previous) override {
        if (previous != 0) {
            c_.exec(
                ("UPDATE SchemaVersion SET Version = " + std::to_string(kSchemaVersion)).c_str());
            return;
        }
        if (!c_.exec("SELECT has_schema_privilege(current_schema(), 'CREATE')").boolean(0, 0)) {
            return;
        }
        if (!exists("SchemaVersion")) {
            c_.exec(kCreateVersion);
        }
        c_.exec(("INSERT INTO SchemaVersion (Version) VALUES (" + std::to_string(kSchemaVersion) +
                 ") ON CONFLICT (Id) DO UPDATE SET Version = EXCLUDED.Version")
                    .c_str());
    }

private:
    bool exists(const char* table) const {
        return c_.execParams("SELECT to_regclass($1) IS NOT NULL", {table}).boolean(0, 0);
    }

    Result run(const std::string& sql, const SqlParams& params) const {
        std::vector<Param> values;
        for (const auto& p : params) {
            if (const auto* n = std::get_if<std::int64_t>(&p)) {
                values.emplace_back(std::to_string(*n));
            } else if (const auto* t = std::get_if<std::string>(&p)) {
                values.emplace_back(*t);
            } else {
                values.emplace_back();
            }
        }
        return c_.execParams(positional(sql).c_str(), values);
    }

    const Connection& c_;
    const StoreEngine& engine_;
};

class PostgresEngine : public StoreEngine {
public:
    PostgresEngine(const std::string& uri, const PostgresOptions& options)
        : params_(uri), capacity_(std::max<std::size_t>(options.connections, 1)),
          limits_{options.lockTimeout, options.statementTimeout}, answerTime_(options.answerTime),
          idleTime_(options.idleTime) {
        try {
            idle_.push_back({connect(), Clock::now()});
            open_ = 1;
        } catch (const PgError& e) {
            throw StoreError(scrubbed(e.message, params_.uri()));
        }
        closer_ = std::thread([this] { closeIdle(); });
    }

    ~PostgresEngine() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        idleChanged_.notify_all();
        closer_.join();
    }

    void transact(TransactionKind kind, const std::function<bool(SqlSession&)>& work) override {
        const bool writing = kind == TransactionKind::Write || kind == TransactionKind::Import;
        // READ COMMITTED whatever the database's default: a sequence read after the vendor
        // lock must see the inserts committed while waiting for it.
        const char* begin = writing ? "BEGIN ISOLATION LEVEL READ COMMITTED"
                                    : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";
        // An operator's export or import is not held to a request's time limit.
        const bool request = kind == TransactionKind::Snapshot || kind == TransactionKind::Write;
        const Limits limits{limits_.lock,
                            request ? limits_.statement : std::chrono::milliseconds(0)};
        const auto deadline = request ? std::optional(Clock::now() + answerTime_) : std::nullopt;
        try {
            withConnection(deadline, [&](const Connection& c) {
                Transaction tx(c, begin, limits);
                Session session(c, *this);
                if (work(session)) {
                    tx.commit();
                }
                return 0;
            });
        } catch (const PgError& e) {
            throw classify(e, writing);
        }
    }

    std::string now() const override { return "now()"; }
    // Read in the session's time zone.
    std::string timestamp(const std::string& parameter) const override {
        return "CAST(" + parameter + " AS timestamptz)";
    }
    std::string dateText(const std::string& column) const override {
        return "to_char(" + column + ", 'YYYY-MM-DD')";
    }
    std::string timestampText(const std::string& column) const override {
        return "to_char(" + column + ", 'YYYY-MM-DD HH24:MI:SS.US')";
    }
    // Names sort as SQLite's "Name COLLATE NOCASE, Name, Code" does: ASCII letters folded,
    // then byte order. lower() under the "C" collation folds ASCII only, and "C" compares
    // bytes, whatever the database's default collation.
    std::string bytewise(const std::string& column) const override {
        return column + " COLLATE \"C\"";
    }
    std::string caseFolded(const std::string& column) const override {
        return "lower(" + bytewise(column) + ")";
    }
    std::string utcNow() const override { return "now()"; }
    std::string utcTimestamp(const std::string& parameter) const override {
        return "(CAST(" + parameter + " AS timestamp) AT TIME ZONE 'UTC')";
    }
    std::string utcText(const std::string& column) const override {
        return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS')";
    }
    std::string columnType(ColumnType type) const override {
        switch (type) {
        case ColumnType::Integer:
            return "bigint";
        case ColumnType::Serial:
            return "bigint GENERATED BY DEFAULT AS IDENTITY";
        case ColumnType::Date:
            return "date";
        case ColumnType::Timestamp:
            return "timestamptz";
        case ColumnType::Text:
            break;
        }
        return "text";
    }

private:
    using Owned = std::unique_ptr<Connection>;

    EngineFailure classify(const PgError& e, bool writing) const {
        using Kind = EngineFailure::Kind;
        const std::string waited = std::to_string(answerTime_.count()) + " ms";
        if (e.timedOut && writing && e.duringCommit) {
            return {
                Kind::CommitUnknown, "the database did not answer the commit within " + waited, {}};
        }
        if (e.timedOut) {
            std::string sentence =
                e.message + " for " + waited + "; nothing was changed: try again.";
            sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
            return {Kind::Busy, e.message + " for " + waited, sentence};
        }
        if (writing && e.duringCommit && e.lost) {
            return {Kind::CommitUnknown, "the database connection was lost while committing", {}};
        }
        if (e.lost) {
            return {Kind::Lost, describe(e), {}};
        }
        if (gaveUp(e)) {
            return {Kind::Busy, describe(e), busyText(e)};
        }
        const std::string cls = e.sqlstate.substr(0, 2);
        return {cls == "22" || cls == "23" ? Kind::Refused : Kind::Other, describe(e), {}};
    }

    struct Idle {
        Owned connection;
        Clock::time_point since;
    };

    // A new connection; throws PgError when it cannot be had.
    Owned connect(std::optional<Clock::time_point> deadline = std::nullopt) const {
        auto c = std::make_unique<Connection>(params_.connect(deadline));
        if (!c->get() || c->lost()) {
            throw PgError{oneLine(PQerrorMessage(c->get())), "", true};
        }
        // Notices would otherwise go to standard error, between the request log lines.
        PQsetNoticeProcessor(
            c->get(), [](void*, const char*) {}, nullptr);
        return c;
    }

    // A connection borrowed for one call. An idle one may have died with the database
    // (a restart); a call that finds its connection gone before COMMIT was sent changed
    // nothing, so it runs once more on a new connection.
    // A call that did not end by the deadline is not run again: the database is hung, not gone.
    template <typename Call>
    std::invoke_result_t<Call, const Connection&>
    withConnection(std::optional<Clock::time_point> deadline, Call call) {
        for (int attempt = 0;; ++attempt) {
            bool reused = false;
            Owned c = acquire(reused, deadline);
            c->setDeadline(deadline);
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
                if (attempt > 0 || !reused || e.duringCommit || e.timedOut) {
                    throw;
                }
            } catch (...) {
                release(std::move(c));
                throw;
            }
        }
    }

    Owned acquire(bool& reused, std::optional<Clock::time_point> deadline) {
        std::unique_lock lock(mutex_);
        const auto ready = [&] { return !idle_.empty() || open_ < capacity_; };
        if (!deadline) {
            available_.wait(lock, ready);
        } else if (!available_.wait_until(lock, *deadline, ready)) {
            throw PgError{"every database connection stayed busy", "", false, false, true};
        }
        if (!idle_.empty()) {
            Owned c = std::move(idle_.back().connection);
            idle_.pop_back();
            reused = true;
            return c;
        }
        ++open_;
        lock.unlock();
        try {
            return connect(deadline);
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

    ConnectParams params_;
    std::size_t capacity_;
    const Limits limits_;
    const std::chrono::milliseconds answerTime_;
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
    return openPostgresStore(uri, options);
}

std::unique_ptr<CommentStore> openPostgresStore(const std::string& uri,
                                                const PostgresOptions& options) {
    return openSqlStore(std::make_unique<PostgresEngine>(uri, options));
}

} // namespace vcserver
