#include "admin/AdminSupport.h"

#include "admin/AdminCommands.h"
#include "statement/DateText.h"
#include "store/PostgresUri.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
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

// "yyyy-mm-dd hh:mm[:ss[.fff]]" with a real date and time; SQLite and PostgreSQL read it alike.
bool isTimestamp(std::string_view text) {
    const auto digits = [&](std::size_t at, std::size_t n) {
        return text.size() >= at + n &&
               std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at),
                           text.begin() + static_cast<std::ptrdiff_t>(at + n),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    const auto value = [&](std::size_t at, std::size_t n) {
        int v = 0;
        std::from_chars(text.data() + at, text.data() + at + n, v);
        return v;
    };
    if (text.size() < 16 || !digits(0, 4) || text[4] != '-' || !digits(5, 2) || text[7] != '-' ||
        !digits(8, 2) || (text[10] != ' ' && text[10] != 'T') || !digits(11, 2) ||
        text[13] != ':' || !digits(14, 2) || value(11, 2) > 23 || value(14, 2) > 59 ||
        !parseDateText(text.substr(0, 10))) {
        return false;
    }
    std::size_t at = 16;
    if (at < text.size() && text[at] == ':') {
        if (!digits(at + 1, 2) || value(at + 1, 2) > 59) {
            return false;
        }
        at += 3;
        if (at < text.size() && text[at] == '.') {
            const std::size_t start = ++at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                ++at;
            }
            if (at == start || at - start > 6) {
                return false;
            }
        }
    }
    return at == text.size();
}

std::string operatorName() {
    const passwd* account = getpwuid(geteuid());
    return account ? account->pw_name : "uid " + std::to_string(geteuid());
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
    } kCommands[] = {{"user", runUserCommand},      {"lookup", runLookupCommand},
                     {"backup", runBackupCommand},  {"import", runImportCommand},
                     {"export", runExportCommand},  {"history", runHistoryCommand},
                     {"restore", runRestoreCommand}};
    for (const auto& command : kCommands) {
        if (std::strcmp(word, command.word) == 0) {
            return command.run;
        }
    }
    return nullptr;
}

} // namespace vcserver
