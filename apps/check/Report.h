#pragma once

#include "control/LoadDocument.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the checker found, one finding a line: PASS, WARN or FAIL, the part of the page it
// concerns and what the user of the control will see because of it.
namespace vccheck {

enum class Level { Pass, Warn, Fail };

struct Finding {
    Level level = Level::Pass;
    std::string subject; // "load", "LOC 2", "row 3", "insert"...
    std::string text;
    // A comment row: its place in the list (from 1) and its CommentSequence as sent, and for
    // a row without findings the row as the list shows it.
    int row = 0;
    std::string sequence;
    std::optional<tavik::LoadDocumentReader::Row> cells;
    // A lookup entry: LOC or TYP and its place among them (from 1).
    std::string list;
    int entry = 0;
    // A statement as the control sends it, and the page's answer.
    std::string statement;
    std::optional<long> status;
    std::optional<std::string> answer;
};

struct RunInfo {
    std::string url;
    std::string vendor, scrn, poDate;
    bool write = false;
    std::string scratchVendor;
};

class Report {
public:
    Finding& add(Level level, std::string subject, std::string text);
    Finding& pass(std::string subject, std::string text) {
        return add(Level::Pass, std::move(subject), std::move(text));
    }
    Finding& warn(std::string subject, std::string text) {
        return add(Level::Warn, std::move(subject), std::move(text));
    }
    Finding& fail(std::string subject, std::string text) {
        return add(Level::Fail, std::move(subject), std::move(text));
    }

    int count(Level level) const;
    bool failed() const { return count(Level::Fail) > 0; }
    const std::vector<Finding>& findings() const { return findings_; }

    // One line a finding (PASS lines left out when `quiet`), then the summary line.
    std::string text(bool quiet) const;
    // The same findings as one JSON document.
    std::string json(const RunInfo& run) const;

private:
    std::vector<Finding> findings_;
};

const char* levelName(Level level);

// A text from the page as a finding quotes it: between double quotes, on one line (line
// breaks and tabs written as \r \n \t), cut after `limit` characters.
std::string quote(std::string_view text, std::size_t limit = 60);

// A URL as the report prints it: a password in it shows as "***", as in the server's log.
std::string withoutPassword(std::string_view url);

} // namespace vccheck
