#pragma once

#include <cstdint>
#include <filesystem>

namespace vcserver {

// Copies the SQLite database file `source` (with what its write-ahead log holds) to `target`
// through SQLite's online backup, from one snapshot, while servers go on using it. The copy
// is written to a temporary file beside target (mode 0600), synced and renamed over target,
// so target is either the whole copy or as it was. vfs names the SQLite VFS for the copy
// (the default when null). Throws StoreError with one line; returns the copy's size in bytes.
std::uintmax_t backupSqlite(const std::filesystem::path& source,
                            const std::filesystem::path& target, const char* vfs = nullptr);

} // namespace vcserver
