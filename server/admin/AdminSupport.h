#pragma once

#include "CommandLine.h"
#include "store/CommentStore.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vcserver {

// What every operator command prints its failures with: "vendor-comment-server NAME: ...".
struct CommandVoice {
    const char* name;
    const char* usage;
    int usageError(const std::string& message) const;
    int failure(const std::string& message) const;
    // The command's arguments, its options taken into their places; nothing when the command
    // is over already (its usage printed for --help, or a usage error), exitCode set.
    std::optional<Arguments> arguments(int argc, char** argv, const std::vector<KnownOption>& known,
                                       int& exitCode) const;
};

// Whether a command may make the SQLite file --db names when there is none: only the commands
// that set a database up do, so a mistyped path is not taken for an empty database.
enum class NewDatabase { Create, Refuse };

// Why a command that does not set a database up will not take db: no SQLite file there.
// Empty for an existing file or a PostgreSQL URI.
std::string missingDatabaseProblem(const std::string& db);

// The store of --db for one command, or a failure line (the password never shown).
std::unique_ptr<CommentStore> openForCommand(const std::string& db, NewDatabase newDatabase,
                                             const CommandVoice& voice, int& exitCode);

// "yyyy-mm-dd hh:mm[:ss[.fff]]" with a real date and time; SQLite and PostgreSQL read it alike.
bool isTimestamp(std::string_view text);

// Who the history names for an operator's change: the account running the command.
std::string operatorName();

// db with a PostgreSQL URI's password hidden.
std::string shownDb(const std::string& db);

} // namespace vcserver
