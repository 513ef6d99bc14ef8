#include "admin/AdminSupport.h"

#include "admin/AdminCommands.h"
#include "store/PostgresUri.h"

#include <cstring>
#include <filesystem>
#include <iostream>

namespace vcserver {

int CommandVoice::usageError(const std::string& message) const {
    std::cerr << "vendor-comment-server " << name << ": " << message << "\n" << usage;
    return 2;
}

int CommandVoice::failure(const std::string& message) const {
    std::cerr << "vendor-comment-server " << name << ": " << message << "\n";
    return 1;
}

std::optional<Arguments> CommandVoice::arguments(int argc, char** argv,
                                                 const std::vector<KnownOption>& known,
                                                 int& exitCode) const {
    std::string problem;
    auto arguments = readArguments(argc, argv, known, problem);
    if (!arguments) {
        exitCode = usageError(problem);
        return std::nullopt;
    }
    if (arguments->help) {
        std::cout << usage;
        exitCode = 0;
        return std::nullopt;
    }
    return arguments;
}

std::string shownDb(const std::string& db) {
    return isPostgresUri(db) ? redactedUri(db) : db;
}

std::string missingDatabaseProblem(const std::string& db) {
    std::error_code ec;
    if (isPostgresUri(db) || std::filesystem::exists(db, ec) || ec) {
        return {}; // a file that cannot be looked at is for the store to report
    }
    return "there is no database file '" + db + "' (lookup add, import and the server make one)";
}

std::unique_ptr<CommentStore> openForCommand(const std::string& db, NewDatabase newDatabase,
                                             const CommandVoice& voice, int& exitCode) {
    if (newDatabase == NewDatabase::Refuse) {
        if (const std::string problem = missingDatabaseProblem(db); !problem.empty()) {
            exitCode = voice.failure(problem);
            return nullptr;
        }
    }
    try {
        return openStore(db, 1);
    } catch (const StoreError& e) {
        exitCode = voice.failure("cannot use database '" + shownDb(db) + "': " + e.what());
        return nullptr;
    }
}

AdminCommand adminCommandNamed(const char* word) {
    static constexpr struct {
        const char* word;
        AdminCommand run;
    } kCommands[] = {{"user", runUserCommand},
                     {"lookup", runLookupCommand},
                     {"backup", runBackupCommand},
                     {"import", runImportCommand},
                     {"export", runExportCommand}};
    for (const auto& command : kCommands) {
        if (std::strcmp(word, command.word) == 0) {
            return command.run;
        }
    }
    return nullptr;
}

} // namespace vcserver
