#include "admin/AdminCommands.h"
#include "admin/AdminSupport.h"
#include "statement/DateText.h"

#include "common/JsonWriter.h"
#include "common/Text.h"

#include <charconv>
#include <iostream>

namespace vcserver {

namespace {

constexpr const char* kHistoryUsage =
    "usage: vendor-comment-server history --db DB --vendor V [--sequence N] [--json]\n"
    "       vendor-comment-server history --db DB --prune-before TIME\n"
    "Lists what the comments of vendor V (comment N alone with --sequence) were before each\n"
    "update, delete and restore, newest first, one line an entry: the time (UTC), what\n"
    "happened, who did it (the signed-in user, the client's address when there are no users,\n"
    "the operator's account), the sequence, type, location, effective and expires dates and\n"
    "the comment's first 80 characters. --json prints one JSON array with whole comments.\n"
    "--prune-before deletes the entries older than TIME and prints how many.\n"
    "TIME is 'yyyy-mm-dd' or 'yyyy-mm-dd hh:mm[:ss[.fff]]', in UTC.\n";

constexpr const char* kRestoreUsage =
    "usage: vendor-comment-server restore --db DB --vendor V --sequence N [--at TIME]\n"
    "Brings comment N of vendor V back as it was in its newest history entry (at or before\n"
    "TIME, UTC, with --at): a deleted comment under its old sequence, refused when another\n"
    "comment has taken that sequence since; an overwritten one over its present text. The\n"
    "restore is recorded in the history too.\n";

const CommandVoice kHistoryVoice{"history", kHistoryUsage};
const CommandVoice kRestoreVoice{"restore", kRestoreUsage};

KnownOption::Check sequenceInto(std::optional<std::int64_t>& sequence) {
    return [&sequence](const std::string& text) -> std::string {
        std::int64_t value = 0;
        const char* last = text.data() + text.size();
        const auto [end, ec] = std::from_chars(text.data(), last, value);
        if (text.empty() || ec != std::errc{} || end != last) {
            return "the sequence '" + tavik::common::excerpt(text) + "' is not a whole number";
        }
        sequence = value;
        return {};
    };
}

KnownOption::Check timeInto(std::string& time, const char* option) {
    return [&time, option](const std::string& text) -> std::string {
        if (!isTimestamp(text) && (text.size() != 10 || !parseDateText(text))) {
            return std::string("--") + option + " '" + tavik::common::excerpt(text) +
                   "' is not a time (yyyy-mm-dd or yyyy-mm-dd hh:mm[:ss[.fff]])";
        }
        time = text;
        return {};
    };
}

void printLine(const HistoryEntry& e) {
    const ExportedComment& c = e.comment;
    std::cout << e.changed << '\t' << e.change << '\t' << tavik::common::excerpt(e.changedBy)
              << '\t' << c.sequence << '\t' << c.type << '\t' << c.location << '\t'
              << (c.effective.empty() ? "-" : c.effective) << '\t'
              << (c.expires.empty() ? "-" : c.expires) << '\t' << tavik::common::excerpt(c.comment)
              << '\n';
}

void writeJson(tavik::common::JsonWriter& json, const HistoryEntry& e) {
    const ExportedComment& c = e.comment;
    json.beginObject()
        .key("entry")
        .value(static_cast<long long>(e.entry))
        .key("changed")
        .value(e.changed)
        .key("change")
        .value(e.change)
        .key("changedBy")
        .value(e.changedBy)
        .key("vendor")
        .value(c.vendor)
        .key("sequence")
        .value(static_cast<long long>(c.sequence))
        .key("type")
        .value(static_cast<long long>(c.type))
        .key("location")
        .value(static_cast<long long>(c.location))
        .key("effective")
        .value(c.effective)
        .key("expires")
        .value(c.expires)
        .key("comment")
        .value(c.comment)
        .key("lastUpdated")
        .value(c.lastUpdated)
        .endObject();
}

} // namespace

int runHistoryCommand(int argc, char** argv) {
    std::string db;
    std::optional<std::string> vendor;
    std::optional<std::int64_t> sequence;
    std::string pruneBefore;
    bool json = false;
    int exitCode = 0;
    const auto arguments =
        kHistoryVoice.arguments(argc, argv,
                                {{"db", &db},
                                 {"vendor", &vendor},
                                 {"sequence", sequenceInto(sequence)},
                                 {"prune-before", timeInto(pruneBefore, "prune-before")},
                                 {"json", &json}},
                                exitCode);
    if (!arguments) {
        return exitCode;
    }
    if (db.empty()) {
        return kHistoryVoice.usageError("--db FILE|URI is required");
    }
    if (!arguments->operands.empty()) {
        return kHistoryVoice.usageError("unexpected argument '" +
                                        tavik::common::excerpt(arguments->operands[0]) + "'");
    }
    if (pruneBefore.empty() == !vendor) {
        return kHistoryVoice.usageError("expected either --vendor V or --prune-before TIME");
    }
    const auto store = openForCommand(db, NewDatabase::Refuse, kHistoryVoice, exitCode);
    if (!store) {
        return exitCode;
    }
    try {
        if (!pruneBefore.empty()) {
            const std::int64_t pruned = store->pruneHistory(pruneBefore);
            std::cout << "pruned " << pruned << " "
                      << tavik::common::nounAfter(pruned, "entry", "entries") << " older than "
                      << pruneBefore << "\n";
        } else if (json) {
            tavik::common::JsonWriter out;
            out.beginArray();
            for (const auto& e : store->history(*vendor, sequence)) {
                writeJson(out, e);
            }
            out.endArray();
            std::cout << out.str() << "\n";
        } else {
            for (const auto& e : store->history(*vendor, sequence)) {
                printLine(e);
            }
        }
    } catch (const StoreError& e) {
        return kHistoryVoice.failure("database '" + shownDb(db) + "': " + e.what());
    }
    std::cout << std::flush;
    return std::cout ? 0 : kHistoryVoice.failure("cannot write to standard output");
}

int runRestoreCommand(int argc, char** argv) {
    std::string db;
    std::optional<std::string> vendor;
    std::optional<std::int64_t> sequence;
    std::string at;
    int exitCode = 0;
    const auto arguments = kRestoreVoice.arguments(argc, argv,
                                                   {{"db", &db},
                                                    {"vendor", &vendor},
                                                    {"sequence", sequenceInto(sequence)},
                                                    {"at", timeInto(at, "at")}},
                                                   exitCode);
    if (!arguments) {
        return exitCode;
    }
    if (db.empty() || !vendor || !sequence) {
        return kRestoreVoice.usageError("--db, --vendor and --sequence are required");
    }
    if (!arguments->operands.empty()) {
        return kRestoreVoice.usageError("unexpected argument '" +
                                        tavik::common::excerpt(arguments->operands[0]) + "'");
    }
    const auto store = openForCommand(db, NewDatabase::Refuse, kRestoreVoice, exitCode);
    if (!store) {
        return exitCode;
    }
    try {
        const HistoryEntry e = store->restore(*vendor, *sequence, at, operatorName());
        std::cout << "restored comment " << *sequence << " of vendor "
                  << tavik::common::excerpt(*vendor) << " as it was before it was " << e.change
                  << " at " << e.changed << "\n";
    } catch (const StoreRefusal& e) {
        return kRestoreVoice.failure(e.what());
    } catch (const StoreError& e) {
        return kRestoreVoice.failure("database '" + shownDb(db) + "': " + e.what());
    }
    return 0;
}

} // namespace vcserver
