#pragma once

#include "Statement.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vcserver {

struct LookupEntry {
    std::int64_t code = 0;
    std::string name;
};

struct StoredComment {
    std::string vendor;
    std::int64_t sequence = 0;
    std::int64_t type = 0;
    std::string typeName;
    std::int64_t location = 0;
    std::string locationName;
    std::string effective; // as stored (yyyy-mm-dd), empty when absent
    std::string expires;
    std::string comment;
};

// Everything the load document of one vendor shows.
struct VendorComments {
    std::vector<LookupEntry> locations;  // ordered by name
    std::vector<LookupEntry> types;      // ordered by name
    std::vector<StoredComment> comments; // ordered by sequence
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

// Raised when the database cannot be opened or read.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

    // Runs one statement in its own transaction. An update that matches no comment is
    // Refused with "comment N of vendor V no longer exists" (N the sequence, V the vendor
    // key as in the statement); a delete that matches none is Done.
    virtual ExecResult execute(const Statement& statement) = 0;

    // Adds lookup entries whose codes are missing, and the comments of each vendor that has
    // none yet, so seeding again adds nothing.
    virtual void seed(const DemoData& data) = 0;

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

// The store of --db: a postgresql:// or postgres:// URI, otherwise an SQLite file.
// StoreError messages never show a password.
std::unique_ptr<CommentStore> openStore(const std::string& db, std::size_t connections);

} // namespace vcserver
