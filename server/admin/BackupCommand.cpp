#include "AdminCommands.h"
#include "AdminSupport.h"
#include "SqliteBackup.h"

#include "../CommandLine.h"

#include "PostgresUri.h"

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
    std::string problem;
    const auto arguments = readArguments(argc, argv, {{"help", false}, {"db", true}}, problem);
    if (!arguments) {
        return kVoice.usageError(problem);
    }
    std::string db;
    for (const auto& [name, value] : arguments->options) {
        if (name == "help") {
            std::cout << kUsage;
            return 0;
        }
        db = value;
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
