#include "admin/AdminCommands.h"
#include "admin/AdminSupport.h"
#include "admin/Csv.h"
#include "statement/Statement.h"

#include "common/CodePage.h"
#include "common/Text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <iostream>
#include <sstream>

namespace vcserver {

using tavik::common::nounAfter;

namespace {

constexpr const char* kImportUsage =
    "usage: vendor-comment-server import --db DB FILE.csv [--dry-run] [--for-spreadsheet]\n"
    "Adds the comments of a CSV file (RFC 4180, UTF-8, a header line naming the columns\n"
    "VendorID, CommentSequence, Type, Location, Effective, Expires, Comment and optionally\n"
    "RecordLastUpdated, in any order). Each row is checked as the page checks a saved\n"
    "comment: a vendor key of letters, digits, '_', '-' and '.', type and location by code or\n"
    "by name, dates from 1/1/1753 to 12/31/9999 or empty, at most 32,000 characters. An empty\n"
    "CommentSequence takes the vendor's next one; a sequence the vendor already has is\n"
    "refused; an empty RecordLastUpdated (yyyy-mm-dd hh:mm:ss) is now. All rows go in one\n"
    "transaction, or none: refused rows are listed with their line numbers.\n"
    "  --dry-run          check every row and report, writing nothing\n"
    "  --for-spreadsheet  the file was written by export --for-spreadsheet: take off the '\n"
    "                     it put before fields\n";

constexpr const char* kExportUsage =
    "usage: vendor-comment-server export --db DB [--vendor V] [--for-spreadsheet] > FILE.csv\n"
    "Writes every comment (of vendor V only with --vendor) as CSV to standard output, in the\n"
    "columns import reads, ordered by vendor and sequence, from one snapshot.\n"
    "  --for-spreadsheet  for opening in a spreadsheet program: a field that starts with =, +,\n"
    "                     -, @, a tab or a CR gets a ' before it, so that it shows as text\n"
    "                     and never runs as a formula; import it with --for-spreadsheet\n";

const CommandVoice kImportVoice{"import", kImportUsage};
const CommandVoice kExportVoice{"export", kExportUsage};

// Refused rows listed one a line, at most this many; the rest are counted.
constexpr std::size_t kListedRefusals = 100;

enum Column { Vendor, Sequence, Type, Location, Effective, Expires, Comment, LastUpdated, Count };
constexpr std::array<const char*, Column::Count> kColumns = {
    "VendorID",  "CommentSequence", "Type",    "Location",
    "Effective", "Expires",         "Comment", "RecordLastUpdated"};

// Strips the clause's full stop: refusals are listed as "line N: reason".
std::string clause(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

// One row of the file as a comment, or why it is refused.
std::string readRow(const CsvRecord& record, const std::array<int, Column::Count>& at,
                    ImportedComment& row) {
    const auto field = [&](Column c) -> std::string {
        return at[c] < 0 ? std::string() : record.fields[static_cast<std::size_t>(at[c])];
    };
    for (const auto& f : record.fields) {
        if (!tavik::common::isValidUtf8(f)) {
            return "the row is not UTF-8";
        }
    }
    row.line = record.line;
    row.vendor = field(Vendor);
    if (std::string p = vendorKeyProblem(row.vendor); !p.empty()) {
        return clause(p);
    }
    const std::string sequence = field(Sequence);
    if (!sequence.empty()) {
        std::int64_t value = 0;
        const char* last = sequence.data() + sequence.size();
        const auto [end, ec] = std::from_chars(sequence.data(), last, value);
        if (ec != std::errc{} || end != last || value < 1 || sequence[0] == '+') {
            return "the comment sequence '" + tavik::common::excerpt(sequence) +
                   "' is not a whole number from 1";
        }
        row.sequence = value;
    }
    row.type = std::string(tavik::common::trimSpaces(field(Type)));
    row.location = std::string(tavik::common::trimSpaces(field(Location)));
    if (row.type.empty()) {
        return "the type is empty";
    }
    if (row.location.empty()) {
        return "the location is empty";
    }
    if (std::string p = dateProblem("effective", field(Effective), row.effective); !p.empty()) {
        return clause(p);
    }
    if (std::string p = dateProblem("expires", field(Expires), row.expires); !p.empty()) {
        return clause(p);
    }
    row.comment = field(Comment);
    if (std::string p = commentProblem(row.comment); !p.empty()) {
        return clause(p);
    }
    row.lastUpdated = field(LastUpdated);
    if (!row.lastUpdated.empty() && !isTimestamp(row.lastUpdated)) {
        return "the last-updated time '" + tavik::common::excerpt(row.lastUpdated) +
               "' is not yyyy-mm-dd hh:mm:ss";
    }
    return {};
}

bool isBlankLine(const CsvRecord& record) {
    return record.error.empty() && record.fields.size() == 1 && record.fields[0].empty();
}

} // namespace

int runImportCommand(int argc, char** argv) {
    std::string db;
    bool dryRun = false;
    bool spreadsheet = false;
    int exitCode = 0;
    const auto arguments = kImportVoice.arguments(
        argc, argv, {{"db", &db}, {"dry-run", &dryRun}, {"for-spreadsheet", &spreadsheet}},
        exitCode);
    if (!arguments) {
        return exitCode;
    }
    if (db.empty()) {
        return kImportVoice.usageError("--db FILE|URI is required");
    }
    if (arguments->operands.size() != 1) {
        return kImportVoice.usageError("expected the one CSV file to import");
    }
    const std::string& file = arguments->operands[0];
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf())) {
        return kImportVoice.failure("cannot read " + file);
    }
    const std::string text = std::move(content).str();

    CsvReader reader(text);
    CsvRecord record;
    if (!reader.next(record) || !record.error.empty()) {
        return kImportVoice.failure(file + " has no header line" +
                                    (record.error.empty() ? "" : ": " + record.error));
    }
    std::array<int, Column::Count> at{};
    at.fill(-1);
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        const std::string name(tavik::common::trimSpaces(record.fields[i]));
        const auto known = std::find_if(kColumns.begin(), kColumns.end(), [&](const char* c) {
            return tavik::common::equalsIgnoreCase(name, c);
        });
        if (known == kColumns.end()) {
            return kImportVoice.failure(file + " line 1: unknown column '" +
                                        tavik::common::excerpt(name) +
                                        "'; the columns are VendorID, CommentSequence, Type, "
                                        "Location, Effective, Expires, Comment, "
                                        "RecordLastUpdated");
        }
        auto& slot = at[static_cast<std::size_t>(known - kColumns.begin())];
        if (slot >= 0) {
            return kImportVoice.failure(file + " line 1: column " + name + " appears twice");
        }
        slot = static_cast<int>(i);
    }
    for (std::size_t c = 0; c < Column::LastUpdated; ++c) {
        if (at[c] < 0) {
            return kImportVoice.failure(file + " line 1: the header lacks column " + kColumns[c]);
        }
    }

    const auto columns =
        static_cast<std::size_t>(std::count_if(at.begin(), at.end(), [](int i) { return i >= 0; }));
    std::vector<ImportedComment> rows;
    std::vector<RefusedRow> refused;
    std::size_t total = 0;
    while (reader.next(record)) {
        if (isBlankLine(record)) {
            continue;
        }
        ++total;
        if (!record.error.empty()) {
            refused.push_back({record.line, "malformed CSV: " + record.error});
            continue;
        }
        if (record.fields.size() != columns) {
            refused.push_back({record.line, "the row has " + std::to_string(record.fields.size()) +
                                                " " + nounAfter(record.fields.size(), "field") +
                                                ", the header " + std::to_string(columns)});
            continue;
        }
        if (spreadsheet) {
            for (auto& f : record.fields) {
                f = std::string(fromSpreadsheet(f));
            }
        }
        ImportedComment row;
        if (std::string why = readRow(record, at, row); !why.empty()) {
            refused.push_back({record.line, std::move(why)});
            continue;
        }
        rows.push_back(std::move(row));
    }

    const auto store = openForCommand(db, NewDatabase::Create, kImportVoice, exitCode);
    if (!store) {
        return exitCode;
    }
    ImportOutcome outcome;
    try {
        // Rows the file already refuses still go through the store's checks, for one report.
        outcome = store->importComments(rows, dryRun || !refused.empty());
    } catch (const StoreError& e) {
        return kImportVoice.failure("database '" + shownDb(db) + "': " + e.what() +
                                    "; nothing was imported");
    }
    refused.insert(refused.end(), outcome.refused.begin(), outcome.refused.end());
    std::sort(refused.begin(), refused.end(),
              [](const RefusedRow& a, const RefusedRow& b) { return a.line < b.line; });
    for (std::size_t i = 0; i < refused.size() && i < kListedRefusals; ++i) {
        std::cerr << file << " line " << refused[i].line << ": " << refused[i].reason << "\n";
    }
    if (refused.size() > kListedRefusals) {
        const std::size_t more = refused.size() - kListedRefusals;
        std::cerr << "... and " << more << " more refused " << nounAfter(more, "row") << "\n";
    }
    if (!refused.empty()) {
        // "1 of 1 row", "1 of 2 rows": the noun goes with the total it follows.
        return kImportVoice.failure(std::to_string(refused.size()) + " of " +
                                    std::to_string(total) + " " + nounAfter(total, "row") +
                                    " refused; nothing was imported");
    }
    std::cout << (dryRun ? "would import " : "imported ") << outcome.imported << " "
              << nounAfter(outcome.imported, "comment") << " from " << file
              << (dryRun ? " (dry run: nothing written)" : "") << "\n";
    return 0;
}

int runExportCommand(int argc, char** argv) {
    std::string db;
    std::optional<std::string> vendor;
    bool spreadsheet = false;
    int exitCode = 0;
    const auto arguments = kExportVoice.arguments(
        argc, argv, {{"db", &db}, {"vendor", &vendor}, {"for-spreadsheet", &spreadsheet}},
        exitCode);
    if (!arguments) {
        return exitCode;
    }
    if (db.empty()) {
        return kExportVoice.usageError("--db FILE|URI is required");
    }
    if (!arguments->operands.empty()) {
        return kExportVoice.usageError("unexpected argument '" +
                                       tavik::common::excerpt(arguments->operands[0]) +
                                       "'; the CSV goes to standard output");
    }
    const auto store = openForCommand(db, NewDatabase::Refuse, kExportVoice, exitCode);
    if (!store) {
        return exitCode;
    }
    std::string line;
    for (std::size_t c = 0; c < Column::Count; ++c) {
        line += (c ? "," : "") + std::string(kColumns[c]);
    }
    std::cout << line << "\r\n";
    const auto field = [&](const std::string& value) {
        return csvField(spreadsheet ? forSpreadsheet(value) : value);
    };
    std::size_t count = 0;
    try {
        store->exportComments(vendor, [&](const ExportedComment& c) {
            line = field(c.vendor) + "," + std::to_string(c.sequence) + "," +
                   field(std::to_string(c.type)) + "," + field(std::to_string(c.location)) + "," +
                   c.effective + "," + c.expires + "," + field(c.comment) + "," +
                   field(c.lastUpdated);
            std::cout << line << "\r\n";
            ++count;
        });
    } catch (const StoreError& e) {
        return kExportVoice.failure("database '" + shownDb(db) + "': " + e.what());
    }
    std::cout << std::flush;
    if (!std::cout) {
        return kExportVoice.failure("cannot write to standard output (disk full?)");
    }
    std::cerr << "exported " << count << " " << nounAfter(count, "comment") << "\n";
    return 0;
}

} // namespace vcserver
