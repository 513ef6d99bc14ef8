#include "StatementCheck.h"

#include "common/Text.h"
#include "editor/Statements.h"
#include "list/SelectionRules.h"
#include "platform/Locale.h"
#include "platform/RuntimeError.h"
#include "platform/Widgets.h"

#include <optional>

namespace vccheck {

namespace {

namespace platform = tavik::platform;
namespace common = tavik::common;
using Row = tavik::LoadDocumentReader::Row;

// A comment as the user of the control would write one, with what the form encoding and the
// statement texts must carry intact: an apostrophe (stored as a back-quote), characters of
// Windows-1252 beyond ASCII, and the characters that mean something in a form body.
const char* const kInsertedComment =
    "vendor-comment-check: don't ship on Fridays; fee 5 \xE2\x82\xAC + 10% & \"more\" = due";
const char* const kUpdatedComment =
    "vendor-comment-check, updated: caf\xC3\xA9 na\xC3\xAFve \xE2\x80\x94 'quoted' <tag>";

// What a reload must show of the comment the statements wrote.
struct Expected {
    std::string comment;
    std::string type, location;
    std::string effective, expires; // as the control captures them, M/d/yyyy; empty for none
    std::string sequence;
};

std::string milliseconds(std::chrono::microseconds duration) {
    return std::to_string((duration.count() + 500) / 1000) + " ms";
}

// The date a cell shows, as the picker reads it; nothing for an empty or unreadable cell.
std::optional<platform::DateTime> cellDate(const std::string& cell) {
    if (common::isBlank(cell))
        return std::nullopt;
    try {
        return platform::pickerDate(common::trimSpaces(cell));
    } catch (const platform::RuntimeError&) {
        return std::nullopt;
    }
}

bool sameDate(const std::string& cell, const std::string& expected) {
    if (expected.empty())
        return common::isBlank(cell);
    const auto shown = cellDate(cell);
    return shown && *shown == platform::CDate(expected);
}

// How a reloaded row differs from what the statement wrote; empty when it does not.
std::string differences(const Row& row, const Expected& expected) {
    std::string found;
    const auto differ = [&](const char* what, const std::string& shown, const std::string& sent) {
        found += (found.empty() ? "" : "; ") + std::string(what) + " " + quote(shown, 80) +
                 " where " + quote(sent, 80) + " was written";
    };
    if (tavik::CommentSequenceKey(row.sequence) != expected.sequence)
        differ("CommentSequence", row.sequence, expected.sequence);
    if (row.comment != expected.comment)
        differ("comment", row.comment, expected.comment);
    if (row.type != expected.type)
        differ("type", row.type, expected.type);
    if (row.location != expected.location)
        differ("location", row.location, expected.location);
    if (!sameDate(row.effective, expected.effective))
        differ("effective", row.effective, expected.effective);
    if (!sameDate(row.expires, expected.expires))
        differ("expires", row.expires, expected.expires);
    return found;
}

class StatementRun {
public:
    StatementRun(const LoadRequest& scratch, const PageLimits& limits, Report& report,
                 Progress& progress)
        : scratch_(scratch), limits_(limits), report_(report), progress_(progress) {}

    void run();

private:
    // Posts a statement as the control does and reports the answer the way the control
    // takes it; true when the control would take it as run.
    bool post(const std::string& subject, const std::string& statement);
    // Reloads the scratch vendor; nothing when the load fails (reported under `subject`).
    std::optional<LoadedPage> reload(const std::string& subject);
    // The reload after an insert or an update: one row, showing what was written.
    bool shows(const std::string& subject, const Expected& expected);
    void checkRefusal();
    void cleanUp();

    const LoadRequest& scratch_;
    const PageLimits& limits_;
    Report& report_;
    Progress& progress_;
    bool clean_ = true; // the scratch vendor is known to hold no comments
};

bool StatementRun::post(const std::string& subject, const std::string& statement) {
    progress_.show("posting the " + subject + " statement");
    const tavik::StatementRequest request =
        tavik::MakeStatementRequest(scratch_.serverName, statement);
    const PostedStatement posted = postStatement(request, limits_.statement);
    Finding* finding = nullptr;
    bool accepted = false;
    if (!posted.completed) {
        finding = &report_.fail(subject, "no answer (" + posted.failure +
                                             "): the control shows \" Error !  \"");
    } else {
        const std::string answered =
            "HTTP " + std::to_string(posted.status) + " in " + milliseconds(posted.duration) + ", ";
        switch (tavik::JudgeStatementAnswer(posted.status, posted.answer)) {
        case tavik::StatementAnswer::Accepted:
            accepted = true;
            finding = &report_.pass(subject, answered + "a blank answer: accepted");
            break;
        case tavik::StatementAnswer::Refused:
            finding = &report_.fail(
                subject, answered + "refused: " + quote(posted.answer, 200) +
                             " (the control shows it in an error box)" +
                             (scratch_.vendor.find_first_not_of("0123456789") != std::string::npos
                                  ? "; the control writes the vendor key without quotes, so "
                                    "a page on SQL needs a numeric scratch vendor"
                                  : ""));
            break;
        case tavik::StatementAnswer::Failed:
            finding = &report_.fail(subject, answered + "a blank answer with an error status: the "
                                                        "control shows \" Error !  \"");
            break;
        }
        finding->status = posted.status;
        finding->answer = posted.answer;
    }
    finding->statement = statement;
    return accepted;
}

std::optional<LoadedPage> StatementRun::reload(const std::string& subject) {
    progress_.show("reloading the scratch vendor");
    LoadedPage page = readLoad(scratch_, limits_.load);
    if (!page.complete) {
        report_.fail(subject,
                     "the reload of vendor " + scratch_.vendor + " fails: " + page.failure);
        return std::nullopt;
    }
    return page;
}

bool StatementRun::shows(const std::string& subject, const Expected& expected) {
    const auto page = reload(subject);
    if (!page)
        return false;
    if (page->rows.size() != 1) {
        report_.fail(subject, "the reload shows " + std::to_string(page->rows.size()) +
                                  " comments where one was written: the user sees the list "
                                  "disagree with what was saved");
        return false;
    }
    const std::string found = differences(page->rows.front(), expected);
    if (!found.empty()) {
        report_.fail(subject, "the reload shows " + found);
        return false;
    }
    report_.pass(subject, "the reload shows the comment as written, sequence " + expected.sequence)
        .cells = page->rows.front();
    return true;
}

// A statement the control never sends must be refused with a text: a page that answers it
// blank would also answer a statement it failed to run blank, which the control takes as run.
void StatementRun::checkRefusal() {
    const std::string statement =
        "SELECT * FROM VendorComment WHERE VendorID = '" + scratch_.vendor + "'";
    progress_.show("posting a statement the page must refuse");
    const PostedStatement posted = postStatement(
        tavik::MakeStatementRequest(scratch_.serverName, statement), limits_.statement);
    Finding* finding = nullptr;
    if (!posted.completed) {
        finding = &report_.fail("refusal", "no answer (" + posted.failure + ")");
    } else {
        const std::string answered = "HTTP " + std::to_string(posted.status) + ", ";
        switch (tavik::JudgeStatementAnswer(posted.status, posted.answer)) {
        case tavik::StatementAnswer::Refused:
            finding = &report_.pass(
                "refusal",
                answered + "refused with a text the control shows: " + quote(posted.answer, 200));
            break;
        case tavik::StatementAnswer::Failed:
            finding = &report_.warn("refusal", answered +
                                                   "refused without a text: the control shows only "
                                                   "\" Error !  \", not why");
            break;
        case tavik::StatementAnswer::Accepted:
            finding = &report_.fail("refusal",
                                    answered + "a blank answer to a statement the control never "
                                               "sends: a page that answers a failure blank "
                                               "makes the control believe the statement ran");
            break;
        }
        finding->status = posted.status;
        finding->answer = posted.answer;
    }
    finding->statement = statement;
}

// Deletes whatever the scratch vendor holds now, by the control's own delete statement.
void StatementRun::cleanUp() {
    const auto page = reload("cleanup");
    if (!page)
        return;
    for (const Row& row : page->rows) {
        const std::string key = tavik::CommentSequenceKey(row.sequence);
        if (!key.empty())
            post("cleanup", tavik::DeleteStatement(scratch_.vendor, key));
    }
    const auto after = reload("cleanup");
    if (after && after->rows.empty())
        report_.pass("cleanup", "vendor " + scratch_.vendor + " holds no comments again");
    else if (after)
        report_.fail("cleanup", "vendor " + scratch_.vendor + " still holds " +
                                    std::to_string(after->rows.size()) +
                                    " comments the check wrote; remove them by hand");
}

void StatementRun::run() {
    progress_.show("loading the scratch vendor");
    const LoadedPage before = readLoad(scratch_, limits_.load);
    if (!before.complete) {
        report_.fail("statements", "the load of the scratch vendor " + scratch_.vendor +
                                       " fails (" + before.failure +
                                       "): the statements are not checked");
        return;
    }
    if (!before.rows.empty()) {
        report_.fail("statements", "the scratch vendor " + scratch_.vendor + " holds " +
                                       std::to_string(before.rows.size()) +
                                       " comments: the statements are checked only on a "
                                       "vendor without any, so that nothing of yours changes");
        return;
    }
    if (before.types.empty() || before.locations.empty()) {
        report_.fail("statements", "the scratch vendor's load has no " +
                                       std::string(before.types.empty() ? "TYP" : "LOC") +
                                       " entry to write a comment with");
        return;
    }

    // The control sends the codes of the entries picked and the dates as it captures them.
    const LookupEntry& type = before.types.front();
    const LookupEntry& location = before.locations.front();
    Expected inserted{
        tavik::CommentValue(kInsertedComment), type.name, location.name, "4/1/2009", "", "1"};
    clean_ = false;
    bool passed = post("insert", tavik::InsertStatement(scratch_.vendor, type.code, location.code,
                                                        inserted.effective, inserted.expires,
                                                        kInsertedComment)) &&
                  shows("insert", inserted);

    const LookupEntry& newType = before.types.back();
    const LookupEntry& newLocation = before.locations.back();
    Expected updated{tavik::CommentValue(kUpdatedComment),
                     newType.name,
                     newLocation.name,
                     "4/2/2009",
                     "12/31/2009",
                     "1"};
    passed = passed &&
             post("update", tavik::UpdateStatement(scratch_.vendor, newType.code, newLocation.code,
                                                   updated.effective, updated.expires,
                                                   kUpdatedComment, "1")) &&
             shows("update", updated);

    if (passed && post("delete", tavik::DeleteStatement(scratch_.vendor, "1"))) {
        if (const auto page = reload("delete")) {
            if (page->rows.empty()) {
                clean_ = true;
                report_.pass("delete", "the reload shows the comment gone");
            } else {
                report_.fail("delete", "the reload still shows " +
                                           std::to_string(page->rows.size()) +
                                           " comments: the user deleted a comment that stays");
            }
        }
    }
    // The refusal is asked for even after a failure: it tells the most about a page that
    // answers everything blank.
    checkRefusal();
    if (!clean_)
        cleanUp();
}

} // namespace

void checkStatements(const LoadRequest& scratch, const PageLimits& limits, Report& report,
                     Progress& progress) {
    StatementRun(scratch, limits, report, progress).run();
    progress.clear();
}

} // namespace vccheck
