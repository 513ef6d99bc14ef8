#pragma once

#include "domain/CommentChange.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vcserver {

struct LookupEntry {
    std::int64_t code = 0;
    std::string name;
};

struct StoredComment {
    std::string vendor;
    std::int64_t sequence = 0;
    std::int64_t type = 0;     // its name is the entry's in VendorComments::types
    std::int64_t location = 0; // and in VendorComments::locations
    std::string effective;     // as stored (yyyy-mm-dd), empty when absent
    std::string expires;
    std::string comment;
};

// Everything the load document of one vendor shows.
struct VendorComments {
    std::vector<LookupEntry> locations;  // ordered by name
    std::vector<LookupEntry> types;      // ordered by name
    std::vector<StoredComment> comments; // ordered by sequence
};

// Where the data behind a vendor's load document stands. Every change that could alter the
// document moves one of the numbers in its own transaction, so an equal version means an
// equal document, across processes and the operator's commands. database changes when the
// data is replaced wholesale (a restore), so numbers read before it never match again.
struct ChangeVersion {
    std::int64_t database = 0;
    std::int64_t lookups = 0; // both lookup tables, and changes spanning many vendors
    std::int64_t vendor = 0;
    bool operator==(const ChangeVersion&) const = default;
};

// One comment as a load hands it on; its texts last only until the next one.
struct CommentRow {
    std::string_view vendor;
    std::int64_t sequence = 0;
    std::int64_t type = 0;
    std::int64_t location = 0;
    std::string_view effective; // as stored (yyyy-mm-dd), empty when absent
    std::string_view expires;
    std::string_view comment;
};

// Takes a vendor's load as it is read, so a large one is never copied row by row: the
// lookup lists (ordered by name), then the comments by sequence. A read that has to start
// again (its connection found gone) starts again with lookups().
class LoadReceiver {
public:
    virtual ~LoadReceiver() = default;
    virtual void lookups(std::vector<LookupEntry> locations, std::vector<LookupEntry> types) = 0;
    virtual void comment(const CommentRow& row) = 0;
};

// Hands a load already read on to a receiver.
void handOn(const VendorComments& load, LoadReceiver& receiver);

// Where a load stood: the version it was read at, and whether the receiver was given the
// load (not when the version was the one already known). Without a version the store cannot
// tell, and the load must not be kept.
struct LoadOutcome {
    std::optional<ChangeVersion> version;
    bool read = true;
};

// How every store ends the answer to a commit whose outcome it cannot know.
inline constexpr const char* kMayHaveTakenEffect =
    "the statement may or may not have taken effect.";

struct ExecResult {
    // Busy: nothing was changed and the same statement may well succeed if sent again.
    enum class Outcome { Done, Refused, Failed, Busy };
    Outcome outcome = Outcome::Done;
    std::string message;       // one line when not Done
    std::int64_t sequence = 0; // the sequence an insert allocated
};

struct DemoComment {
    std::string vendor;
    std::int32_t type = 0;
    std::int32_t location = 0;
    std::optional<CalendarDate> effective;
    std::optional<CalendarDate> expires;
    std::string comment;
};

struct DemoData {
    std::vector<LookupEntry> locations;
    std::vector<LookupEntry> types;
    std::vector<DemoComment> comments;
};

enum class LookupKind { Type, Location };

// "type" or "location", as the operator commands and their messages name them.
const char* lookupKindName(LookupKind kind);

// A comment as the CSV import brings it: type and location by code or by name, the dates
// already read, the sequence and last-updated time when the file gives them.
struct ImportedComment {
    std::size_t line = 0; // where the row starts in the file, for the report
    std::string vendor;
    std::optional<std::int64_t> sequence;
    std::string type; // a code, or a name
    std::string location;
    std::optional<CalendarDate> effective;
    std::optional<CalendarDate> expires;
    std::string comment;
    std::string lastUpdated; // "yyyy-mm-dd hh:mm:ss[.fff]", empty for now
};

struct RefusedRow {
    std::size_t line = 0;
    std::string reason;
};

struct ImportOutcome {
    std::size_t imported = 0;        // rows written (or that would be, on a dry run)
    std::vector<RefusedRow> refused; // when any, nothing was written
};

// One comment as the CSV export writes it.
struct ExportedComment {
    std::string vendor;
    std::int64_t sequence = 0;
    std::int64_t type = 0;
    std::int64_t location = 0;
    std::string effective; // yyyy-mm-dd, empty when absent
    std::string expires;
    std::string comment;
    std::string lastUpdated; // yyyy-mm-dd hh:mm:ss.fff
};

// One entry of a comment's history: the comment as it was before a change, when (UTC,
// yyyy-mm-dd hh:mm:ss.fff), by whom (the signed-in user, the client's address when there
// are no users, the operator's account) and what happened ("updated", "deleted",
// "restored"). A restore that brings a deleted comment back records the comment it brought.
struct HistoryEntry {
    std::int64_t entry = 0; // rises with every entry kept
    std::string changed;
    std::string changedBy;
    std::string change;
    ExportedComment comment;
};

// The schema this program writes; databases of a newer one are refused at opening. An
// existing database without a recorded version is taken as version 1 once its columns fit.
// Version 2 added the comments' history, version 3 the change versions.
inline constexpr int kSchemaVersion = 3;

// Raised when the database cannot be opened or read.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operator command the data does not allow (a duplicate code, an unknown one); one line.
class StoreRefusal : public StoreError {
public:
    using StoreError::StoreError;
};

// A read that gave up waiting (a lock held elsewhere, a time limit); trying again may work.
// The message is a whole sentence for the answer.
class StoreBusy : public StoreError {
public:
    using StoreError::StoreError;
};

// Where a store reports trouble that no answer shows, such as failing checkpoints.
using StoreNotices = std::function<void(const std::string&)>;

// The tables behind the server page. Implementations are safe to call from many threads.
class CommentStore {
public:
    virtual ~CommentStore() = default;

    // Lookup lists and the vendor's comments, read in one consistent snapshot.
    virtual VendorComments load(const std::string& vendor) = 0;

    // The vendor's version and, unless it equals known, the load handed to receiver, both
    // from one snapshot.
    virtual LoadOutcome loadChanged(const std::string& vendor,
                                    const std::optional<ChangeVersion>& known,
                                    LoadReceiver& receiver) {
        (void)known;
        handOn(load(vendor), receiver);
        return {};
    }

    // Runs one statement in its own transaction, with the history entry of the comment it
    // updates or deletes, recorded as changed by changedBy. An update that matches no comment
    // is Refused with "comment N of vendor V no longer exists" (N the sequence, V the vendor
    // key as in the statement); a delete that matches none is Done.
    virtual ExecResult execute(const Statement& statement, const std::string& changedBy) = 0;

    // Gives the database a new number, so that no version read before matches again: for
    // data replaced wholesale (a restore), whose versions may repeat numbers read since.
    virtual void renumber() {}

    // Adds lookup entries whose codes are missing, and the comments of each vendor that has
    // none yet, so seeding again adds nothing.
    virtual void seed(const DemoData& data) = 0;

    // The operator's lookup commands, each in one transaction; a refusal throws StoreRefusal.
    virtual std::vector<LookupEntry> lookups(LookupKind kind) = 0; // ordered by code
    virtual void addLookup(LookupKind kind, std::int64_t code, const std::string& name) = 0;
    virtual void renameLookup(LookupKind kind, std::int64_t code, const std::string& name) = 0;
    // Refused while comments use the entry, unless force: then those comments are deleted
    // with it (kept in their history as deleted by changedBy). Returns how many were.
    virtual std::int64_t removeLookup(LookupKind kind, std::int64_t code, bool force,
                                      const std::string& changedBy) = 0;

    // The history of a vendor's comments (of one when sequence is given), newest first.
    virtual std::vector<HistoryEntry> history(const std::string& vendor,
                                              std::optional<std::int64_t> sequence) = 0;
    // Brings comment sequence of vendor back as its newest history entry at or before `at`
    // (UTC, "yyyy-mm-dd[ hh:mm:ss[.fff]]"; empty: the newest): a deleted comment under its
    // old sequence, an overwritten one over its present text. Recorded in the history; returns
    // the entry brought back. StoreRefusal when there is no such entry, or when the comment
    // was deleted after it and another has taken its sequence since.
    virtual HistoryEntry restore(const std::string& vendor, std::int64_t sequence,
                                 const std::string& at, const std::string& changedBy) = 0;
    // Deletes the history entries older than before (UTC, as `at`); returns how many.
    virtual std::int64_t pruneHistory(const std::string& before) = 0;

    // Writes every row in one transaction, or none when any is refused (an unknown type or
    // location, a sequence the vendor already has); a dry run writes none either way.
    // Rows without a sequence get the vendor's next one, as an insert does.
    virtual ImportOutcome importComments(const std::vector<ImportedComment>& rows, bool dryRun) = 0;

    // Every comment (of one vendor when given), ordered by vendor and sequence, from one
    // snapshot.
    virtual void exportComments(const std::optional<std::string>& vendor,
                                const std::function<void(const ExportedComment&)>& row) = 0;

    // Set while a server serves the store; notices before that, or without a sink, are dropped.
    void setNotices(StoreNotices sink);

protected:
    void notice(const std::string& message) const;

private:
    mutable std::mutex noticesMutex_;
    StoreNotices notices_;
};

struct SqliteOptions {
    // A checkpoint is attempted after every commit that leaves at least this many pages in
    // the write-ahead log (SQLite's own default).
    int checkpointPages = 1000;
};

struct PostgresOptions {
    std::size_t connections = 16;
    // Each transaction waits at most this long for a lock, and each statement runs at most
    // this long, so a request is answered well within its own deadline.
    std::chrono::milliseconds lockTimeout{5'000};
    std::chrono::milliseconds statementTimeout{10'000};
    // A request's transaction ends within this long, a hung database or every connection
    // busy included (then its connection is closed): with the connect time limit, within the
    // control's limits. What it changed before COMMIT was sent is rolled back.
    std::chrono::milliseconds answerTime{15'000};
    // Connections unused this long are closed, giving their slots back to the database.
    std::chrono::milliseconds idleTime{30'000};
};

// Opens (creating when missing) an SQLite database file with the tables in place.
std::unique_ptr<CommentStore> openSqliteStore(const std::filesystem::path& file,
                                              const SqliteOptions& options = {});

// Connects to the PostgreSQL database of a connection URI (libpq's syntax) and creates the
// tables when missing. At most connections are open at once; callers beyond that wait.
std::unique_ptr<CommentStore> openPostgresStore(const std::string& uri, std::size_t connections);
std::unique_ptr<CommentStore> openPostgresStore(const std::string& uri,
                                                const PostgresOptions& options);

// The code of a lookup entry given by code or by name (names compare ignoring ASCII case);
// nothing when no entry has it.
std::optional<std::int64_t> resolveLookup(const std::vector<LookupEntry>& entries,
                                          const std::string& codeOrName);

// Why an imported row is refused, in the same words from every store: a type or location no
// entry has (the type when both are unknown), or a sequence the vendor already has.
std::string unknownLookupRefusal(const ImportedComment& row, bool typeKnown);
std::string takenSequenceRefusal(const ImportedComment& row);

// The store of --db: a postgresql:// or postgres:// URI, otherwise an SQLite file.
// StoreError messages never show a password.
std::unique_ptr<CommentStore> openStore(const std::string& db, std::size_t connections);

} // namespace vcserver
