#include "StatementCheck.h"

#include "common/CodePage.h"
#include "common/Text.h"
#include "editor/Statements.h"
#include "list/SelectionRules.h"
#include "platform/Locale.h"
#include "platform/RuntimeError.h"
#include "platform/Widgets.h"

#include <algorithm>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

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
const char* const kSecondComment = "vendor-comment-check: the second comment";
// A text that no database runs, for the page to refuse.
const char* const kNoStatement = "vendor-comment-check: this text is no statement";

// The most characters the reference page keeps of a comment.
constexpr std::size_t kLongestComment = 32'000;
constexpr int kClients = 8;
constexpr int kInsertsEach = 10;
// Fifteen halvings narrow the lengths up to kLongestComment down to one, so that the longest
// comment a page keeps can be named; two more try the length it cut to and the one after.
constexpr int kLengthSteps = 17;

std::size_t characterCount(std::string_view text) {
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// A comment of kLongestComment characters: every character of Windows-1252 a clerk can
// write, tab and line breaks among them, over and over.
std::string longComment() {
    std::vector<std::string> characters{"\t"};
    for (int code = 0x20; code <= 0xFF; ++code) {
        // 0x7F is a control; the five unassigned codes have no character.
        if (code != 0x7F && code != 0x81 && code != 0x8D && code != 0x8F && code != 0x90 &&
            code != 0x9D)
            characters.push_back(common::fromAnsi(std::string(1, char(code))));
    }
    std::string comment = "vendor-comment-check, the longest comment: ";
    std::size_t count = characterCount(comment);
    for (std::size_t i = 0; count < kLongestComment - 1; ++i) {
        if (count % 100 == 0) {
            comment += "\r\n";
            count += 2;
        }
        comment += characters[i % characters.size()];
        ++count;
    }
    return comment + ".";
}

// The first `characters` characters of a text.
std::string firstCharacters(const std::string& text, std::size_t characters) {
    std::size_t at = 0, count = 0;
    for (; at < text.size(); ++at)
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && count++ == characters)
            break;
    return text.substr(0, at);
}

// The written comment as the reload is compared with it. A page that writes a line break's
// CR as a raw byte, not as "&#13;", is read back with LF alone, since every XML reader turns
// CR LF and a CR alone into LF: no fault of the page's. A reload that keeps CRs has them
// all.
std::string asRead(const std::string& shown, const std::string& written) {
    if (shown.find('\r') != std::string::npos)
        return written;
    std::string read;
    for (std::size_t i = 0; i < written.size(); ++i) {
        read += written[i] == '\r' ? '\n' : written[i];
        if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n')
            ++i;
    }
    return read;
}

// What a reload must show of the comment the statements wrote.
struct Expected {
    std::string comment;
    std::string type, location;
    std::string effective, expires; // as the control captures them, M/d/yyyy; empty for none
    std::string sequence;           // empty: any whole number, as a new comment gets
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

// How a long comment came back: cut, or where it first differs from the written one as read
// (asRead).
std::string textDifference(const std::string& shown, const std::string& read,
                           const std::string& written) {
    const std::string total = grouped(characterCount(written));
    if (read.starts_with(shown))
        return "the comment cut to " + grouped(characterCount(shown)) + " of its " + total +
               " characters";
    std::size_t at = std::size_t(
        std::mismatch(shown.begin(), shown.end(), read.begin(), read.end()).first - shown.begin());
    while (at > 0 && (static_cast<unsigned char>(read[at]) & 0xC0) == 0x80)
        --at;
    return "the comment of " + grouped(characterCount(shown)) + " characters, where " + total +
           " were written, differs from character " +
           grouped(characterCount(std::string_view(read).substr(0, at)) + 1) +
           " on: " + quote(shown.substr(at), 30) + " where " + quote(read.substr(at), 30) +
           " was written";
}

// How a reloaded row differs from what the statement wrote; empty when it does not.
std::string differences(const Row& row, const Expected& expected) {
    std::string found;
    const auto differ = [&](const char* what, const std::string& shown, const std::string& sent) {
        found += (found.empty() ? "" : "; ") + std::string(what) + " " + quote(shown, 80) +
                 " where " + quote(sent, 80) + " was written";
    };
    if (expected.sequence.empty() ? tavik::CommentSequenceKey(row.sequence).empty()
                                  : tavik::CommentSequenceKey(row.sequence) != expected.sequence)
        found += std::string(found.empty() ? "" : "; ") + "CommentSequence " + quote(row.sequence) +
                 (expected.sequence.empty() ? " where a whole number was wanted"
                                            : " where it was " + expected.sequence);
    const std::string read = asRead(row.comment, expected.comment);
    if (row.comment != read && read.size() <= 200)
        differ("comment", row.comment, read);
    else if (row.comment != read)
        found += (found.empty() ? "" : "; ") + textDifference(row.comment, read, expected.comment);
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

// What an answer is, as far as the checker tells them apart.
enum class Reply { None, Redirect, Blank, BlankError, Text, Html };

Reply replyOf(const PostedStatement& posted) {
    if (!posted.completed)
        return Reply::None;
    if (posted.status >= 300 && posted.status <= 399)
        return Reply::Redirect;
    switch (tavik::JudgeStatementAnswer(posted.status, posted.answer)) {
    case tavik::StatementAnswer::Accepted:
        return Reply::Blank;
    case tavik::StatementAnswer::Failed:
        return Reply::BlankError;
    case tavik::StatementAnswer::Refused:
        break;
    }
    return looksLikeHtml(posted.answer) ? Reply::Html : Reply::Text;
}

// Whether a refusal reads as the page's SQL failing over the vendor key, which the control
// writes without quotes: the answer speaks of a column, an identifier or the syntax, and
// names the key, or a name in it ("V-1" is read as V minus 1), as databases name what they
// cannot resolve: in quotes ('V1', "v1", `V1`, [V1]) or after a colon ("no such column:
// V1"). Letter case is ignored, as PostgreSQL folds unquoted names to lower case. A
// numeric key is a number to SQL, so it never fails that way; other refusals (a comment
// gone, a permission, a lock) say nothing about the key either.
bool failsOverUnquotedKey(const std::string& answer, const std::string& key) {
    const auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), common::asciiLower);
        return text;
    };
    const std::string text = lower(answer);
    if (text.find("column") == std::string::npos && text.find("identifier") == std::string::npos &&
        text.find("syntax") == std::string::npos)
        return false;
    const auto isNameCharacter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    };
    std::vector<std::string> names{lower(key)};
    std::string part;
    for (const char c : names.front() + '.') {
        if (isNameCharacter(c))
            part += c;
        else if (!part.empty())
            names.push_back(std::exchange(part, {}));
    }
    for (const std::string& name : names) {
        if (name.find_first_not_of("0123456789") == std::string::npos)
            continue;
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + 1)) {
            const std::size_t end = at + name.size();
            const bool quoted =
                at > 0 && std::string_view("'\"`[").find(text[at - 1]) != std::string_view::npos;
            const bool afterColon = at > 1 && text.compare(at - 2, 2, ": ") == 0;
            if ((quoted || afterColon) && (end == text.size() || !isNameCharacter(text[end])))
                return true;
        }
    }
    return false;
}

std::string answered(const PostedStatement& posted) {
    return "HTTP " + std::to_string(posted.status) + " in " + milliseconds(posted.duration) + ", ";
}

// A redirect answered to a statement: the statement never reached the page.
std::string redirected(const PostedStatement& posted) {
    return answered(posted) + "a redirect" +
           (posted.redirect.empty() ? "" : " to " + withoutPassword(posted.redirect)) +
           ": the statement never ran, but the control does not follow redirects when posting" +
           (common::isBlank(posted.answer)
                ? " and takes the blank answer as accepted: the change seems saved and is lost"
                : " and shows the answer's text in an error box");
}

std::string htmlAnswer(const PostedStatement& posted) {
    return answered(posted) + htmlPage(posted.answer) + ": the control shows its markup, " +
           quote(posted.answer, 40) + ", in an error box";
}

class StatementRun {
public:
    StatementRun(const LoadRequest& scratch, const PageLimits& limits, Report& report,
                 Progress& progress)
        : scratch_(scratch), limits_(limits), report_(report), progress_(progress) {}

    void run();

private:
    PostedStatement send(const std::string& statement) const {
        return postStatement(tavik::MakeStatementRequest(scratch_.serverName, statement),
                             limits_.statement);
    }
    // The statements shared out among kClients clients that post at the same time; the
    // answers in the statements' order.
    std::vector<PostedStatement> sendAtOnce(const std::vector<std::string>& statements) const {
        std::vector<PostedStatement> answers(statements.size());
        std::vector<std::jthread> clients;
        for (std::size_t client = 0; client < std::size_t(kClients); ++client)
            clients.emplace_back([&, client] {
                for (std::size_t i = client; i < statements.size(); i += kClients)
                    answers[i] = send(statements[i]);
            });
        clients.clear(); // joins
        return answers;
    }
    // Posts a statement as the control does and reports the answer the way the control
    // takes it; Reply::Blank when the control would take it as run.
    Reply post(const std::string& subject, const std::string& statement);
    // Reloads the scratch vendor; nothing when the load fails (reported under `subject`).
    std::optional<LoadedPage> reload(const std::string& subject);
    // The reload shows `count` comments; reported when it does not.
    std::optional<LoadedPage> reloadHolding(const std::string& subject, std::size_t count);
    // A reloaded row shows what was written; reported when it does not.
    bool matches(const std::string& subject, const Row& row, const Expected& expected);
    // The insert, update and delete one at a time; true when each did what it should.
    bool oneAtATime(const LoadedPage& before);
    // The longest comment the control lets the clerk type, written over the one `comment`
    // shows; where the page refuses or cuts it, the longest one the page keeps.
    void checkLongComment(const LookupEntry& type, const LookupEntry& location, Expected comment);
    void findLongestKept(const LookupEntry& type, const LookupEntry& location, Expected comment,
                         std::optional<std::size_t> cutTo);
    void checkConcurrentInserts(const LookupEntry& type, const LookupEntry& location);
    void checkRefusal();
    void cleanUp();

    const LoadRequest& scratch_;
    const PageLimits& limits_;
    Report& report_;
    Progress& progress_;
    bool clean_ = true; // the scratch vendor is known to hold no comments
};

Reply StatementRun::post(const std::string& subject, const std::string& statement) {
    progress_.show("posting the " + subject + " statement");
    const PostedStatement posted = send(statement);
    Finding* finding = nullptr;
    switch (replyOf(posted)) {
    case Reply::None:
        finding = &report_.fail(subject, "no answer (" + posted.failure +
                                             "): the control shows \" Error !  \"");
        break;
    case Reply::Redirect:
        finding = &report_.fail(subject, redirected(posted));
        break;
    case Reply::Blank:
        finding = &report_.pass(subject, answered(posted) + "a blank answer: accepted");
        break;
    case Reply::Html:
        finding = &report_.fail(subject, "refused with " + htmlAnswer(posted));
        break;
    case Reply::Text:
        finding = &report_.fail(subject,
                                answered(posted) + "refused: " + quote(posted.answer, 200) +
                                    " (the control shows it in an error box)" +
                                    (failsOverUnquotedKey(posted.answer, scratch_.vendor)
                                         ? "; the control writes the vendor key without quotes, so "
                                           "a page on SQL needs a numeric scratch vendor"
                                         : ""));
        break;
    case Reply::BlankError:
        finding = &report_.fail(subject, answered(posted) + "a blank answer with an error status: "
                                                            "the control shows \" Error !  \"");
        break;
    }
    if (posted.completed) {
        finding->status = posted.status;
        finding->answer = posted.answer;
    }
    finding->statement = statement;
    return replyOf(posted);
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

std::optional<LoadedPage> StatementRun::reloadHolding(const std::string& subject,
                                                      std::size_t count) {
    auto page = reload(subject);
    if (page && page->rows.size() != count) {
        report_.fail(subject, "the reload shows " + counted(page->rows.size(), "comment") +
                                  " where " +
                                  (count == 1 ? "one was" : std::to_string(count) + " were") +
                                  " written: the user sees the list disagree with what was "
                                  "saved");
        return std::nullopt;
    }
    return page;
}

bool StatementRun::matches(const std::string& subject, const Row& row, const Expected& expected) {
    const std::string found = differences(row, expected);
    if (!found.empty())
        report_.fail(subject, "the reload shows " + found);
    else if (row.comment != expected.comment)
        report_.pass(subject, "the comment's CR LF line breaks come back as LF alone: the page "
                              "writes them as raw bytes, and every XML reader, the control's "
                              "too, reads a raw CR LF as LF; no fault of the page's, so "
                              "compared as read");
    return found.empty();
}

bool StatementRun::oneAtATime(const LoadedPage& before) {
    // The control sends the codes of the entries picked and the dates as it captures them.
    const LookupEntry& type = before.types.front();
    const LookupEntry& location = before.locations.front();
    Expected first{
        tavik::CommentValue(kInsertedComment), type.name, location.name, "4/1/2009", "", ""};
    clean_ = false;
    if (post("insert", tavik::InsertStatement(scratch_.vendor, type.code, location.code,
                                              first.effective, first.expires, kInsertedComment)) !=
        Reply::Blank)
        return false;
    auto page = reloadHolding("insert", 1);
    if (!page || !matches("insert", page->rows.front(), first))
        return false;
    first.sequence = tavik::CommentSequenceKey(page->rows.front().sequence);
    report_.pass("insert", "the reload shows the comment as written, sequence " + first.sequence)
        .cells = page->rows.front();

    const LookupEntry& newType = before.types.back();
    const LookupEntry& newLocation = before.locations.back();
    first = {tavik::CommentValue(kUpdatedComment),
             newType.name,
             newLocation.name,
             "4/2/2009",
             "12/31/2009",
             first.sequence};
    if (post("update", tavik::UpdateStatement(scratch_.vendor, newType.code, newLocation.code,
                                              first.effective, first.expires, kUpdatedComment,
                                              first.sequence)) != Reply::Blank)
        return false;
    page = reloadHolding("update", 1);
    if (!page || !matches("update", page->rows.front(), first))
        return false;
    report_.pass("update", "the reload shows the comment as written, sequence " + first.sequence)
        .cells = page->rows.front();

    // A second comment, so that the first one's delete shows whether the page keeps the
    // stored keys: one that numbers the rows by position makes the clerk delete another
    // comment than the one shown.
    Expected second{tavik::CommentValue(kSecondComment), type.name, location.name, "", "", ""};
    if (post("insert", tavik::InsertStatement(scratch_.vendor, type.code, location.code, "", "",
                                              kSecondComment)) != Reply::Blank)
        return false;
    page = reloadHolding("insert", 2);
    if (!page)
        return false;
    const auto keyed = [&](const std::string& key) {
        return std::find_if(page->rows.begin(), page->rows.end(), [&](const Row& row) {
            return tavik::CommentSequenceKey(row.sequence) == key;
        });
    };
    const auto firstRow = keyed(first.sequence);
    if (firstRow == page->rows.end()) {
        report_.fail("insert", "the reload shows no comment of sequence " + first.sequence +
                                   " any more: the second insert changed the first comment's "
                                   "key");
        return false;
    }
    const Row& secondRow = page->rows[firstRow == page->rows.begin() ? 1 : 0];
    if (!matches("insert", *firstRow, first) || !matches("insert", secondRow, second))
        return false;
    second.sequence = tavik::CommentSequenceKey(secondRow.sequence);
    if (second.sequence == first.sequence) {
        report_.fail("insert", "the reload shows both comments with sequence " + first.sequence +
                                   ": an edit or a delete of one reaches the other too");
        return false;
    }
    report_
        .pass("insert", "the reload shows the second comment as written, sequence " +
                            second.sequence + ", beside the first")
        .cells = secondRow;

    if (post("delete", tavik::DeleteStatement(scratch_.vendor, first.sequence)) != Reply::Blank)
        return false;
    page = reload("delete");
    if (!page)
        return false;
    if (page->rows.size() != 1) {
        report_.fail("delete", page->rows.empty()
                                   ? "the reload shows no comment: the delete of sequence " +
                                         first.sequence + " removed the other comment too"
                                   : "the reload still shows " +
                                         counted(page->rows.size(), "comment") +
                                         ": the user deleted a comment that stays");
        return false;
    }
    const std::string left = tavik::CommentSequenceKey(page->rows.front().sequence);
    if (left != second.sequence) {
        report_.fail("delete", "the comment left shows sequence " + quote(left) +
                                   ", where it "
                                   "showed " +
                                   second.sequence +
                                   " before the delete: the page writes the row's position "
                                   "as CommentSequence, not its stored key, so the clerk edits "
                                   "or deletes another comment than the one selected");
        return false;
    }
    if (!matches("delete", page->rows.front(), second))
        return false;
    report_.pass("delete", "the reload shows the comment gone and the other keeping its "
                           "sequence " +
                               second.sequence);

    // A page that keeps fewer characters is still checked for the rest.
    checkLongComment(type, location, second);
    if (post("delete", tavik::DeleteStatement(scratch_.vendor, second.sequence)) != Reply::Blank)
        return false;
    page = reloadHolding("delete", 0);
    if (!page)
        return false;
    clean_ = true;
    report_.pass("delete", "the reload shows the comment gone");
    return true;
}

void StatementRun::checkLongComment(const LookupEntry& type, const LookupEntry& location,
                                    Expected comment) {
    const std::string longest = longComment();
    comment.comment = tavik::CommentValue(longest);
    const Reply reply =
        post("long", tavik::UpdateStatement(scratch_.vendor, type.code, location.code, "", "",
                                            longest, comment.sequence));
    std::optional<std::size_t> cutTo;
    if (reply == Reply::Blank) {
        const auto page = reloadHolding("long", 1);
        if (!page)
            return;
        const std::string& shown = page->rows.front().comment;
        if (matches("long", page->rows.front(), comment)) {
            report_.pass("long", "the reload shows all " + grouped(kLongestComment) +
                                     " characters as written");
            return;
        }
        if (!asRead(shown, comment.comment).starts_with(shown))
            return;
        cutTo = characterCount(shown);
    } else if (reply != Reply::Text && reply != Reply::Html && reply != Reply::BlankError) {
        return;
    }
    findLongestKept(type, location, std::move(comment), cutTo);
}

// Bisects between a length the page keeps and one it does not, trying the length it cut the
// longest comment to first; bounded, since every step writes and reloads a long comment.
void StatementRun::findLongestKept(const LookupEntry& type, const LookupEntry& location,
                                   Expected comment, std::optional<std::size_t> cutTo) {
    progress_.show("finding the longest comment the page keeps");
    const std::string longest = longComment();
    const auto keeps = [&](std::size_t length) {
        const std::string text = firstCharacters(longest, length);
        comment.comment = tavik::CommentValue(text);
        if (replyOf(send(tavik::UpdateStatement(scratch_.vendor, type.code, location.code, "", "",
                                                text, comment.sequence))) != Reply::Blank)
            return false;
        const LoadedPage page = readLoad(scratch_, limits_.load);
        return page.complete && page.rows.size() == 1 &&
               differences(page.rows.front(), comment).empty();
    };
    std::size_t kept = 0, lost = kLongestComment;
    for (int step = 0; step < kLengthSteps && lost - kept > 1; ++step) {
        std::size_t length = kept + (lost - kept) / 2;
        if (cutTo && *cutTo > kept && *cutTo < lost)
            length = *cutTo;
        else if (cutTo && *cutTo == kept)
            length = kept + 1;
        if (keeps(length))
            kept = length;
        else
            lost = length;
    }
    const std::string typed = " (the control lets the clerk type " + grouped(kLongestComment) + ")";
    report_.fail("long",
                 lost - kept == 1
                     ? "the page refuses comments over " + counted(kept, "character") + typed
                     : "the page keeps comments of " + counted(kept, "character") + " but not of " +
                           grouped(lost) + typed);
}

// Clerks who save at the same moment: each insert must get a key of its own, which a page
// that takes the batch's MAX+1 outside a transaction does not give.
void StatementRun::checkConcurrentInserts(const LookupEntry& type, const LookupEntry& location) {
    progress_.show("posting " + std::to_string(kClients * kInsertsEach) + " inserts from " +
                   std::to_string(kClients) + " clients at once");
    clean_ = false;
    std::vector<std::string> inserts;
    for (int i = 0; i < kClients * kInsertsEach; ++i)
        inserts.push_back(tavik::InsertStatement(scratch_.vendor, type.code, location.code, "", "",
                                                 "vendor-comment-check: insert " +
                                                     std::to_string(i + 1) + " of many at once"));
    const auto start = std::chrono::steady_clock::now();
    const std::vector<PostedStatement> posted = sendAtOnce(inserts);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const std::string tried = std::to_string(kClients * kInsertsEach) + " inserts from " +
                              std::to_string(kClients) + " clients at once";

    int accepted = 0, other = 0;
    const PostedStatement* firstOther = nullptr;
    for (const PostedStatement& answer : posted) {
        if (replyOf(answer) == Reply::Blank) {
            ++accepted;
        } else {
            ++other;
            if (!firstOther)
                firstOther = &answer;
        }
    }
    bool passed = true;
    if (firstOther) {
        passed = false;
        const Reply reply = replyOf(*firstOther);
        report_.fail("parallel",
                     std::to_string(other) + " of " + tried + " were not accepted, the first " +
                         (reply == Reply::None   ? "with no answer (" + firstOther->failure + ")"
                          : reply == Reply::Text ? "refused: " + quote(firstOther->answer, 200)
                                                 : "with " + answered(*firstOther) + "and " +
                                                       quote(firstOther->answer, 60)) +
                         ": clerks who save at the same moment get errors");
    }
    const auto page = reload("parallel");
    if (!page)
        return;
    std::map<std::string, int> keys;
    for (const Row& row : page->rows)
        ++keys[tavik::CommentSequenceKey(row.sequence)];
    if (page->rows.size() != std::size_t(accepted)) {
        passed = false;
        report_.fail("parallel", "the reload shows " + counted(page->rows.size(), "comment") +
                                     " where " + counted(std::size_t(accepted), "insert") +
                                     " were accepted: saved comments are lost");
    }
    // The first shared key in the order of the list.
    const auto shared = std::find_if(page->rows.begin(), page->rows.end(), [&](const Row& row) {
        return keys[tavik::CommentSequenceKey(row.sequence)] > 1;
    });
    if (shared != page->rows.end()) {
        passed = false;
        const std::string key = tavik::CommentSequenceKey(shared->sequence);
        report_.fail("parallel",
                     "the reload's " + counted(page->rows.size(), "comment") + " hold only " +
                         counted(keys.size(), "distinct key") + " (sequence " + quote(key) +
                         " is held by " + std::to_string(keys[key]) +
                         "): the page takes MAX+1 outside a transaction, so an edit or a "
                         "delete of one comment reaches another");
    }
    if (passed)
        report_.pass("parallel", tried + " in " + milliseconds(took) + ": " +
                                     counted(std::size_t(accepted), "comment") +
                                     ", each with a key of its own");

    progress_.show("deleting the concurrent inserts");
    std::vector<std::string> deletes;
    for (const auto& [key, count] : keys)
        if (!key.empty())
            deletes.push_back(tavik::DeleteStatement(scratch_.vendor, key));
    sendAtOnce(deletes);
    const auto after = reload("parallel");
    clean_ = after && after->rows.empty();
}

// Statements the control never sends: a SELECT, which must be refused with a text, and a
// text that is no statement, which tells a page that runs whatever it is sent from one that
// answers its failures blank.
void StatementRun::checkRefusal() {
    const std::string statement =
        "SELECT * FROM VendorComment WHERE VendorID = '" + scratch_.vendor + "'";
    progress_.show("posting a statement the page must refuse");
    const PostedStatement posted = send(statement);
    const Reply reply = replyOf(posted);
    std::optional<PostedStatement> failing;
    if (reply != Reply::None && reply != Reply::Redirect)
        failing = send(kNoStatement);
    const Reply failed = failing ? replyOf(*failing) : Reply::None;
    const bool failureBlank = failed == Reply::Blank;
    const bool failureRefused =
        failed == Reply::Text || failed == Reply::Html || failed == Reply::BlankError;

    Finding* finding = nullptr;
    switch (reply) {
    case Reply::None:
        finding = &report_.fail("refusal", "no answer (" + posted.failure + ")");
        break;
    case Reply::Redirect:
        finding = &report_.fail("refusal", redirected(posted));
        break;
    case Reply::Text:
        finding =
            &report_.pass("refusal", answered(posted) + "refused with a text the control shows: " +
                                         quote(posted.answer, 200));
        break;
    case Reply::Html:
        finding = &report_.fail("refusal", "refused with " + htmlAnswer(posted));
        break;
    case Reply::BlankError:
        finding = &report_.warn("refusal", answered(posted) +
                                               "refused without a text: the control shows only "
                                               "\" Error !  \", not why");
        break;
    case Reply::Blank:
        finding = &report_.fail(
            "refusal",
            answered(posted) +
                (failureBlank ? "a blank answer to a statement the control never sends, and to a "
                                "text that is no statement: the page answers a failure blank, "
                                "so the control takes a statement that failed as run"
                 : failureRefused
                     ? "a blank answer to a SELECT, which the control never sends, where a "
                       "text that is no statement is refused: the page runs any statement it "
                       "is sent (a SELECT, a DROP TABLE), not only the control's insert, "
                       "update and delete"
                     : "a blank answer to a statement the control never sends: a page that "
                       "answers a failure blank makes the control believe the statement ran"));
        break;
    }
    if (posted.completed) {
        finding->status = posted.status;
        finding->answer = posted.answer;
    }
    finding->statement = statement;

    // Said once: where the SELECT was answered blank, its line says it all.
    if (!failing || reply == Reply::Blank)
        return;
    Finding& failure =
        failureBlank
            ? report_.fail("failure", answered(*failing) +
                                          "a blank answer to a text that is no statement: the "
                                          "page answers a failure blank, so the control takes "
                                          "a statement that failed as run")
            : report_.pass("failure",
                           answered(*failing) + "a text that is no statement is not taken as run");
    if (failing->completed) {
        failure.status = failing->status;
        failure.answer = failing->answer;
    }
    failure.statement = kNoStatement;
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
                                    counted(after->rows.size(), "comment") +
                                    " the check wrote; remove them by hand");
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
                                       counted(before.rows.size(), "comment") +
                                       ": the statements are checked only on a "
                                       "vendor without any, so that nothing of yours changes");
        return;
    }
    if (before.types.empty() || before.locations.empty()) {
        report_.fail("statements", "the scratch vendor's load has no " +
                                       std::string(before.types.empty() ? "TYP" : "LOC") +
                                       " entry to write a comment with");
        return;
    }

    if (oneAtATime(before))
        checkConcurrentInserts(before.types.front(), before.locations.front());
    else
        report_.pass("parallel", "not tried, since the statements one at a time failed");
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
