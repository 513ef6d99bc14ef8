#include "store/SqliteBackup.h"

#include "store/CommentStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <system_error>

namespace vcserver {

namespace {

// A copy that waits longer than this for a lock held elsewhere gives up.
constexpr int kBusyTimeoutMs = 10'000;

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;

std::string systemText(int error) {
    return std::generic_category().message(error);
}

// The temporary file, removed unless handed over to its final name.
class TempFile {
public:
    explicit TempFile(const std::filesystem::path& target) {
        std::string pattern = target.string() + ".tmp-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            throw StoreError("cannot create a file beside " + target.string() + ": " +
                             systemText(errno));
        }
        ::fchmod(fd, 0600);
        ::close(fd);
        path_ = pattern;
    }
    ~TempFile() {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove(path_, ec);
            std::filesystem::remove(path_.string() + "-journal", ec);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::filesystem::path& path() const { return path_; }
    void keep() { path_.clear(); }

private:
    std::filesystem::path path_;
};

void syncPath(const std::filesystem::path& path, int flags, const std::string& what) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw StoreError("cannot sync " + what + ": " + systemText(error));
    }
    ::close(fd);
}

Db open(const std::filesystem::path& file, int flags, const char* vfs, const std::string& what) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, vfs);
    Db db(raw);
    if (rc != SQLITE_OK) {
        throw StoreError("cannot open " + what + ": " +
                         (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    sqlite3_extended_result_codes(db.get(), 1);
    return db;
}

std::string errorOf(sqlite3* db) {
    std::string text = sqlite3_errmsg(db);
    if (const int error = sqlite3_system_errno(db)) {
        text += " (" + systemText(error) + ")";
    }
    return text;
}

} // namespace

std::uintmax_t backupSqlite(const std::filesystem::path& source,
                            const std::filesystem::path& target, const char* vfs) {
    // Opening without CREATE: a mistyped name must not back up a new, empty database.
    const Db from = open(source, SQLITE_OPEN_READWRITE, nullptr, "database " + source.string());
    TempFile temp(target);
    {
        const Db to = open(temp.path(), SQLITE_OPEN_READWRITE, vfs, temp.path().string());
        // The temporary file is dropped whole on failure; a journal beside it buys nothing.
        sqlite3_exec(to.get(), "PRAGMA journal_mode = OFF", nullptr, nullptr, nullptr);
        sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
        if (!backup) {
            throw StoreError("cannot start the copy: " + errorOf(to.get()));
        }
        // All pages in one step: one read snapshot of the source, which in WAL mode holds no
        // writer back. A source locked by a writer in rollback mode is waited for.
        int rc = SQLITE_OK;
        for (int waited = 0;; waited += 100) {
            rc = sqlite3_backup_step(backup, -1);
            if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || waited >= kBusyTimeoutMs) {
                break;
            }
            sqlite3_sleep(100);
        }
        sqlite3_backup_finish(backup);
        if (rc != SQLITE_DONE) {
            const std::string why = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED
                                        ? "the database stayed locked"
                                        : errorOf(to.get());
            throw StoreError("the copy failed: " + why);
        }
        // The copy is one self-contained file, whatever mode the source's header carried.
        if (sqlite3_exec(to.get(), "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
            throw StoreError("the copy failed: " + errorOf(to.get()));
        }
    }
    syncPath(temp.path(), O_RDONLY, temp.path().string());
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(temp.path(), ec);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        throw StoreError("cannot rename the copy to " + target.string() + ": " + systemText(errno));
    }
    temp.keep();
    const auto folder = target.has_parent_path() ? target.parent_path() : ".";
    syncPath(folder, O_RDONLY | O_DIRECTORY, "folder " + folder.string());
    return size;
}

} // namespace vcserver
