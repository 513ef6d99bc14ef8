#include "admin/AdminCommands.h"
#include "admin/AdminSupport.h"
#include "store/PostgresUri.h"
#include "store/SqliteBackup.h"

#include <iostream>

namespace vcserver {

namespace {

constexpr const char* kUsage =
    "usage: vendor-comment-server backup --db FILE OUT\n"
    "Copies the SQLite database FILE, with what its write-ahead log holds, to OUT while\n"
    "servers keep using it: one consistent snapshot, written to OUT.tmp-XXXXXX, synced and\n"
    "renamed to OUT (mode 0600), so OUT is the whole copy or untouched. Restore by stopping the\n"
    "server and putting OUT in place of FILE (removing FILE-wal and FILE-shm). For a PostgreSQL\n"
    "database use pg_dump.\n";

const CommandVoice kVoice{"backup", kUsage};

} // namespace

int runBackupCommand(int argc, char** argv) {
    std::string db;
    int exitCode = 0;
    const auto arguments = kVoice.arguments(argc, argv, {{"db", &db}}, exitCode);
    if (!arguments) {
        return exitCode;
    }
    if (db.empty()) {
        return kVoice.usageError("--db FILE is required");
    }
    if (arguments->operands.size() != 1) {
        return kVoice.usageError("expected the one file OUT to write the copy to");
    }
    if (isPostgresUri(db)) {
        return kVoice.failure("backs up SQLite files only; for PostgreSQL use pg_dump");
    }
    if (const std::string missing = missingDatabaseProblem(db); !missing.empty()) {
        return kVoice.failure(missing);
    }
    const std::string& out = arguments->operands[0];
    try {
        const auto bytes = backupSqlite(db, out);
        std::cout << "backed up " << db << " to " << out << " (" << bytes << " bytes)\n";
    } catch (const StoreError& e) {
        return kVoice.failure("cannot back up " + db + " to " + out + ": " + e.what() + "; " + out +
                              " was left as it was");
    }
    return 0;
}

} // namespace vcserver
