#pragma once

#include "store/CommentStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vcserver {

// What the SQL comment store needs from a database engine: statements with parameters, its
// transactions and locks, its schema bookkeeping, and its failures sorted into a few kinds.
// The SQL the store writes uses "?1", "?2", ... for parameters and the engine's fragments
// below where the dialects part.

// The store's tables, described once; each engine writes them in its own types.
// Serial: a whole number the database assigns, rising with every row added.
enum class ColumnType { Integer, Serial, Text, Date, Timestamp };

struct ColumnDef {
    const char* name;
    ColumnType type;
    bool required = true;             // NOT NULL
    const char* references = nullptr; // the lookup table whose Code it holds
};

struct TableDef {
    const char* name;
    std::vector<ColumnDef> columns;
    std::vector<const char*> key;
};

// Every table, referenced ones before those referring to them.
const std::vector<TableDef>& storeTables();

// A statement's parameter: Null, a whole number or a text.
using SqlValue = std::variant<std::monostate, std::int64_t, std::string>;
using SqlParams = std::vector<SqlValue>;

// The rows of one query, read forwards.
class SqlRows {
public:
    virtual ~SqlRows() = default;
    virtual bool next() = 0; // true while there is a row to read
    virtual std::int64_t integer(int column) const = 0;
    // The column's text, valid until the next row; empty for Null.
    virtual std::string_view view(int column) const = 0;
    std::string text(int column) const { return std::string(view(column)); }
};

// One connection inside one transaction.
class SqlSession {
public:
    virtual ~SqlSession() = default;

    virtual std::unique_ptr<SqlRows> query(const std::string& sql, const SqlParams& params) = 0;
    // Returns how many rows the statement changed.
    virtual std::int64_t change(const std::string& sql, const SqlParams& params) = 0;
    // Statements without parameters, one after another (a migration step).
    virtual void script(const std::string& sql) = 0;
    // Compiles the statement without running it: why it does not fit the tables, empty when
    // it does.
    virtual std::string compileProblem(const std::string& sql) = 0;

    // Locks the engine needs beyond its transactions: servers opening one database together,
    // inserts allocating one vendor's next sequence and changes keeping a comment's history
    // (so what they record as the comment before is what they change), a lookup's check and
    // change, an import's sequences. Nothing where the write transaction already excludes every
    // other writer.
    virtual void lockSchema() {}
    virtual void lockSequence(const std::string& /*vendor*/) {}
    virtual void lockLookups(LookupKind /*kind*/) {}
    virtual void lockForImport() {}

    // The schema version recorded in the database, 0 when none is.
    virtual int schemaVersion() = 0;
    // Creates the tables that are missing (a database without a recorded version).
    virtual void createTables() = 0;
    // Fails (StoreError) when a table does not suit the store in a way a statement's
    // compilation would not show.
    virtual void checkTables() {}
    // Whether VendorComment.VendorID equals only the very bytes it holds (a text compared
    // byte for byte), so every row a key selects holds that key as it was asked.
    virtual bool keyComparesBytewise() { return false; }
    virtual void recordVersion(int previous) = 0;
};

enum class TransactionKind {
    Snapshot, // a request's reads, all from one snapshot
    Write,    // a change, excluding other changes that could clash
    Export,   // an operator's reads, not held to a request's time limits
    Import,   // an operator's change, not held to a request's time limits
};

// A failure, as the engine sorts it. detail: one line for an operator or a log. sentence:
// the engine's own answer to a statement, when it words this failure itself.
struct EngineFailure {
    enum class Kind {
        Busy,          // nothing was changed; the same call may succeed when tried again
        Refused,       // the data breaks a rule of a table
        Lost,          // the database could not be reached or read; nothing was changed
        CommitUnknown, // the commit was sent and may or may not have taken effect
        Other,
    };
    Kind kind = Kind::Other;
    std::string detail;
    std::string sentence;
};

class StoreEngine {
public:
    virtual ~StoreEngine() = default;

    // Runs work in one transaction of the kind on a connection of its own, and commits when
    // work returns true (otherwise rolls back). The engine may run work once more on a fresh
    // connection when the first was found gone before anything was committed. Throws
    // EngineFailure for the database's failures; what work throws passes unchanged.
    virtual void transact(TransactionKind kind, const std::function<bool(SqlSession&)>& work) = 0;

    // SQL fragments where the dialects part: the time RecordLastUpdated takes now, and from a
    // "yyyy-mm-dd hh:mm:ss[.fff]" parameter; a date or a timestamp column as text
    // (yyyy-mm-dd, yyyy-mm-dd hh:mm:ss.fff...); a text column ordered byte by byte, and with
    // ASCII letters folded.
    virtual std::string now() const = 0;
    virtual std::string timestamp(const std::string& parameter) const = 0;
    virtual std::string dateText(const std::string& column) const = 0;
    virtual std::string timestampText(const std::string& column) const = 0;
    virtual std::string bytewise(const std::string& column) const = 0;
    virtual std::string caseFolded(const std::string& column) const = 0;
    // The same for times in UTC: now, a "yyyy-mm-dd[ hh:mm:ss[.fff]]" parameter, and a
    // timestamp column as "yyyy-mm-dd hh:mm:ss.fff".
    virtual std::string utcNow() const = 0;
    virtual std::string utcTimestamp(const std::string& parameter) const = 0;
    virtual std::string utcText(const std::string& column) const = 0;
    // A column type's name, and what follows a table's definition.
    virtual std::string columnType(ColumnType type) const = 0;
    virtual std::string tableOptions(const TableDef& /*table*/) const { return {}; }

    // Where the engine reports trouble that no answer shows; set by the store.
    StoreNotices notices;
};

// CREATE TABLE in the engine's types; with ifMissing, it leaves a table already there alone.
std::string createTable(const TableDef& table, const StoreEngine& engine, bool ifMissing);

// "CommentType" or "CommentLocation".
const char* lookupTable(LookupKind kind);

// The comment store over an engine: every operation, rule and text of the store.
std::unique_ptr<CommentStore> openSqlStore(std::unique_ptr<StoreEngine> engine);

} // namespace vcserver
