#include "admin/AdminCommands.h"
#include "admin/AdminSupport.h"

#include "common/CodePage.h"
#include "common/Text.h"

#include <charconv>
#include <iostream>

namespace vcserver {

namespace {

constexpr std::size_t kMaxNameBytes = 255;

constexpr const char* kUsage =
    "usage: vendor-comment-server lookup list   --db DB type|location\n"
    "       vendor-comment-server lookup add    --db DB type|location CODE NAME\n"
    "       vendor-comment-server lookup rename --db DB type|location CODE NAME\n"
    "       vendor-comment-server lookup remove --db DB type|location CODE [--force]\n"
    "  list     prints the comment types or locations, one 'CODE<tab>NAME' a line\n"
    "  add      adds an entry; refused when the code exists\n"
    "  rename   gives an entry another name; its comments keep it\n"
    "  remove   removes an entry; refused while comments use it\n"
    "  --force  remove it anyway and DELETE every comment of every vendor that uses it\n"
    "           (their number is printed)\n"
    "  --db DB  the SQLite file or PostgreSQL URI the server uses\n"
    "Each command is one transaction; a running server sees it at its next request.\n";

const CommandVoice kVoice{"lookup", kUsage};

std::optional<std::int32_t> codeOf(const std::string& text) {
    std::int32_t code = 0;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, code);
    if (text.empty() || ec != std::errc{} || end != last) {
        return std::nullopt;
    }
    return code;
}

std::string nameProblem(const std::string& name) {
    if (tavik::common::isBlank(name)) {
        return "the name is empty";
    }
    if (name.size() > kMaxNameBytes) {
        return "the name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
    }
    if (!tavik::common::isValidUtf8(name)) {
        return "the name is not UTF-8";
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return "the name holds a control character";
        }
    }
    return {};
}

} // namespace

int runLookupCommand(int argc, char** argv) {
    std::string db;
    bool force = false;
    int exitCode = 0;
    const auto arguments = kVoice.arguments(argc, argv, {{"db", &db}, {"force", &force}}, exitCode);
    if (!arguments) {
        return exitCode;
    }
    const auto& words = arguments->operands;
    if (words.empty()) {
        return kVoice.usageError("expected list, add, rename or remove");
    }
    const std::string& action = words[0];
    const std::size_t wanted = action == "list"                        ? 2
                               : action == "add" || action == "rename" ? 4
                               : action == "remove"                    ? 3
                                                                       : 0;
    if (wanted == 0) {
        return kVoice.usageError("expected list, add, rename or remove, got '" +
                                 tavik::common::excerpt(action) + "'");
    }
    if (words.size() != wanted) {
        return kVoice.usageError(action + " takes " +
                                 (wanted == 2   ? "type|location"
                                  : wanted == 3 ? "type|location CODE"
                                                : "type|location CODE NAME"));
    }
    if (words[1] != "type" && words[1] != "location") {
        return kVoice.usageError("expected type or location, got '" +
                                 tavik::common::excerpt(words[1]) + "'");
    }
    if (force && action != "remove") {
        return kVoice.usageError("--force goes with remove only");
    }
    if (db.empty()) {
        return kVoice.usageError("--db FILE|URI is required");
    }
    const LookupKind kind = words[1] == "type" ? LookupKind::Type : LookupKind::Location;
    std::int32_t code = 0;
    if (wanted > 2) {
        const auto parsed = codeOf(words[2]);
        if (!parsed) {
            return kVoice.usageError("the code must be a whole number, got '" +
                                     tavik::common::excerpt(words[2]) + "'");
        }
        code = *parsed;
    }
    if (wanted == 4) {
        if (const std::string p = nameProblem(words[3]); !p.empty()) {
            return kVoice.usageError(p);
        }
    }

    const auto store = openForCommand(
        db, action == "add" ? NewDatabase::Create : NewDatabase::Refuse, kVoice, exitCode);
    if (!store) {
        return exitCode;
    }
    const std::string entry = std::string(lookupKindName(kind)) + " " + std::to_string(code);
    try {
        if (action == "list") {
            for (const auto& e : store->lookups(kind)) {
                std::cout << e.code << "\t" << e.name << "\n";
            }
        } else if (action == "add") {
            store->addLookup(kind, code, words[3]);
            std::cout << "added " << entry << " (" << words[3] << ")\n";
        } else if (action == "rename") {
            store->renameLookup(kind, code, words[3]);
            std::cout << "renamed " << entry << " to " << words[3] << "\n";
        } else {
            const auto deleted = store->removeLookup(kind, code, force, operatorName());
            std::cout << "removed " << entry;
            if (force) {
                std::cout << " and deleted the " << deleted << " "
                          << tavik::common::nounAfter(deleted, "comment") << " that used it";
            }
            std::cout << "\n";
        }
    } catch (const StoreRefusal& e) {
        return kVoice.failure(e.what());
    } catch (const StoreError& e) {
        return kVoice.failure("database '" + shownDb(db) + "': " + e.what());
    }
    std::cout << std::flush;
    return std::cout ? 0 : kVoice.failure("cannot write to standard output");
}

} // namespace vcserver
