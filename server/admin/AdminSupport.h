#pragma once

#include "store/CommentStore.h"

#include <memory>
#include <string>

namespace vcserver {

// What every operator command prints its failures with: "vendor-comment-server NAME: ...".
struct CommandVoice {
    const char* name;
    const char* usage;
    int usageError(const std::string& message) const;
    int failure(const std::string& message) const;
};

// The store of --db for one command, or a failure line (the password never shown).
std::unique_ptr<CommentStore> openForCommand(const std::string& db, const CommandVoice& voice,
                                             int& exitCode);

// db with a PostgreSQL URI's password hidden.
std::string shownDb(const std::string& db);

} // namespace vcserver
