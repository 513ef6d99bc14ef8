#pragma once

#include <sqlite3.h>

#include <functional>
#include <string>

namespace vcserver {

// The file calls a filter sees: it may pass them on (proceed), change their result, or answer
// in their stead.
enum class FileOp { Read, Write, Truncate, Sync };

// openFlags are those the file was opened with (SQLITE_OPEN_MAIN_DB, SQLITE_OPEN_WAL, ...).
using FileFilter =
    std::function<int(FileOp op, int openFlags, const std::function<int()>& proceed)>;

// Registers a VFS named name that passes every call to base, file reads, writes, truncates
// and syncs through filter. It lives as long as the process (SQLite keeps the pointer).
sqlite3_vfs* registerFilteredVfs(const std::string& name, sqlite3_vfs* base, FileFilter filter,
                                 bool makeDefault);

} // namespace vcserver
