#include "DocumentCheck.h"

#include "common/CodePage.h"
#include "common/Text.h"
#include "list/SelectionRules.h"
#include "platform/Locale.h"
#include "platform/RuntimeError.h"
#include "platform/Widgets.h"
#include "platform/XmlDocument.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

namespace vccheck {

namespace {

using Row = tavik::LoadDocumentReader::Row;
namespace platform = tavik::platform;
namespace common = tavik::common;

bool isElement(const platform::XmlNode& node) {
    return !node.nodeName().starts_with('#');
}

// The children among the first `needed` that are not elements: text or comments there shift
// the positions the control reads.
std::string shiftedPositions(const platform::XmlNodeList& children, std::size_t needed) {
    std::string positions;
    for (std::size_t i = 0; i < std::min(needed, children.size()); ++i)
        if (!isElement(children[i]))
            positions += (positions.empty() ? "" : ", ") + std::to_string(i) + " (" +
                         children[i].nodeName() + ")";
    return positions;
}

// One LOC or TYP element as read.
struct EntryInfo {
    int number = 0; // among its kind, from 1
    std::string name;
    std::optional<std::int32_t> code;
    std::string codeText;
    std::size_t children = 0;
    std::string shifted;
    bool stops = false;
};

// One GRID element as read.
struct RowInfo {
    int number = 0;
    std::optional<Row> row;
    std::string vendor; // the first child, which the control does not read
    std::size_t children = 0;
    std::string shifted;
    bool stops = false;
};

// Everything the document holds, read element by element as the control reads it, past the
// element where the control's load stops: the report names every fault at once.
struct DocumentReading {
    std::vector<EntryInfo> locations, types;
    std::vector<RowInfo> rows;
    std::vector<std::string> passedOver; // LOC, TYP or GRID in another letter case
    int stopAfter = -1;                  // elements after the one where the load stops
};

bool isNearlyKnown(const std::string& name) {
    for (const char* known : {"LOC", "TYP", "GRID"}) {
        const std::string_view local = std::string_view(name).substr(name.rfind(':') + 1);
        if (name != known && common::equalsIgnoreCase(local, known))
            return true;
    }
    return false;
}

DocumentReading readDocument(const platform::XmlDocument& document, Progress& progress) {
    DocumentReading reading;
    LoadedPage page; // the reader's sink; the reading keeps what the report needs
    PageReader collector(page);
    int elements = 0;
    for (const platform::XmlNode& node : document.documentElement().childNodes()) {
        const std::string name = node.nodeName();
        if (name != "LOC" && name != "TYP" && name != "GRID") {
            if (isNearlyKnown(name))
                reading.passedOver.push_back(name);
            continue;
        }
        if (++elements % 1000 == 0)
            progress.show("reading the load document: " + grouped(reading.rows.size()) + " rows");
        if (reading.stopAfter >= 0)
            ++reading.stopAfter;
        const platform::XmlNodeList children = node.childNodes();
        bool stops = false;
        try {
            tavik::ReadLoadElement(node, collector);
        } catch (const platform::RuntimeError&) {
            stops = true;
        }
        if (name == "GRID") {
            RowInfo info{int(reading.rows.size()) + 1,
                         std::nullopt,
                         children.empty() ? std::string() : children[0].text(),
                         children.size(),
                         shiftedPositions(children, 9),
                         stops};
            if (!stops) {
                info.row = std::move(page.rows.back());
                page.rows.pop_back(); // rows are kept once, in the reading
            }
            reading.rows.push_back(std::move(info));
        } else {
            auto& entries = name == "LOC" ? reading.locations : reading.types;
            EntryInfo info{int(entries.size()) + 1,       {},   std::nullopt, {}, children.size(),
                           shiftedPositions(children, 2), stops};
            if (children.size() >= 2) {
                info.name = children[1].text();
                info.codeText = children[0].text();
                info.code = collector.lastCode();
            }
            entries.push_back(std::move(info));
        }
        if (stops && reading.stopAfter < 0)
            reading.stopAfter = 0;
    }
    return reading;
}

std::string stopText(const DocumentReading& reading) {
    return "the control's load stops here: what comes after it (" +
           grouped(std::size_t(reading.stopAfter)) +
           (reading.stopAfter == 1 ? " more element" : " more elements") +
           ") is not shown, and nothing tells the user";
}

const char* listName(bool locations) {
    return locations ? "LOC" : "TYP";
}

void checkEntries(const std::vector<EntryInfo>& entries, bool locations,
                  const DocumentReading& reading, Report& report) {
    std::unordered_map<std::string, const EntryInfo*> byName;
    std::map<std::int32_t, const EntryInfo*> byCode;
    for (const EntryInfo& entry : entries) {
        const std::string subject = listName(locations) + (" " + std::to_string(entry.number));
        const auto add = [&](Level level, std::string text) -> Finding& {
            Finding& finding = report.add(level, subject, std::move(text));
            finding.list = listName(locations);
            finding.entry = entry.number;
            return finding;
        };
        const std::size_t before = report.findings().size();
        if (entry.stops) {
            if (entry.children < 2)
                add(Level::Fail, "has " + counted(entry.children, "child node") +
                                     "; the control needs two (code, name): " + stopText(reading));
            else
                add(Level::Fail, "code " + quote(entry.codeText) +
                                     " is beyond the 32-bit range: the entry " + quote(entry.name) +
                                     " shows with code 0, and " + stopText(reading));
        }
        if (!entry.shifted.empty())
            add(Level::Warn, "child " + entry.shifted +
                                 " is not an element: the control reads code and name by "
                                 "position, so they shift");
        if (entry.children < 2)
            continue;
        const std::string code = entry.code ? std::to_string(*entry.code) : "0";
        if (entry.code && tavik::CommentSequenceKey(entry.codeText) != code)
            add(Level::Warn, "code " + quote(entry.codeText) + " is read as " + code +
                                 ": a comment saved with " + quote(entry.name) + " is sent code " +
                                 code);
        if (common::isBlank(entry.name))
            add(Level::Warn, "no name: the entry shows as an empty line in the " +
                                 std::string(locations ? "location" : "type") + " box");
        if (const auto same = byName.find(entry.name); same != byName.end()) {
            const EntryInfo& first = *same->second;
            add(Level::Warn, quote(entry.name) + " is also " + listName(locations) + " " +
                                 std::to_string(first.number) +
                                 ": a row naming it always selects the first, so an edit "
                                 "saves code " +
                                 (first.code ? std::to_string(*first.code) : "0"));
        } else {
            byName.emplace(entry.name, &entry);
        }
        if (entry.code) {
            if (const auto same = byCode.find(*entry.code); same != byCode.end()) {
                if (same->second->name != entry.name)
                    add(Level::Warn, "code " + code + " is also " + listName(locations) + " " +
                                         std::to_string(same->second->number) + " " +
                                         quote(same->second->name) +
                                         ": two names the server cannot tell apart");
            } else {
                byCode.emplace(*entry.code, &entry);
            }
        }
        if (report.findings().size() == before)
            add(Level::Pass, "code " + code + ", " + quote(entry.name));
    }
}

// Matches a row's type or location to the entries as the fill does; remembers each text.
class EntryMatcher {
public:
    explicit EntryMatcher(const std::vector<EntryInfo>& entries) : entries_(entries) {}
    bool matches(const std::string& text) {
        const auto known = matched_.find(text);
        if (known != matched_.end())
            return known->second;
        const int match = tavik::MatchingEntry(
            int(entries_.size()), [&](int i) { return entries_[std::size_t(i)].name; }, text);
        return matched_.emplace(text, match >= 0).first->second;
    }
    // The first entry that differs only in letter case or spaces around it, and how.
    std::string nearMatch(const std::string& text) const {
        const std::string_view trimmed = common::trimBlanks(text);
        for (const EntryInfo& entry : entries_) {
            const std::string_view name = common::trimBlanks(entry.name);
            const bool sameCase = name == trimmed;
            if (!sameCase && !common::equalsIgnoreCase(name, trimmed))
                continue;
            const char* how = sameCase ? "spaces around it"
                              : common::equalsIgnoreCase(entry.name, text)
                                  ? "letter case"
                                  : "letter case and spaces";
            return quote(entry.name) + " (" + how + ")";
        }
        return {};
    }

private:
    const std::vector<EntryInfo>& entries_;
    std::unordered_map<std::string, bool> matched_;
};

// The characters of a comment that Windows-1252 lacks, each once.
std::string lackingCharacters(const std::string& comment) {
    if (common::fromAnsi(common::toAnsi(comment)) == comment)
        return {};
    std::string lacking;
    int found = 0;
    for (std::size_t i = 0; i < comment.size() && found < 5;) {
        std::size_t length = 1;
        while (i + length < comment.size() &&
               (static_cast<unsigned char>(comment[i + length]) & 0xC0) == 0x80)
            ++length;
        const std::string character = comment.substr(i, length);
        if (common::fromAnsi(common::toAnsi(character)) != character &&
            lacking.find(character) == std::string::npos) {
            lacking += (lacking.empty() ? "" : " ") + character;
            ++found;
        }
        i += length;
    }
    return lacking;
}

// What the fill makes of a date cell: nothing, a date, or the reason the picker refuses it.
struct CellDate {
    std::optional<platform::DateTime> date;
    std::string refusal;
};

CellDate cellDate(const std::string& cell) {
    const std::string_view t = common::trimSpaces(cell);
    if (t.empty())
        return {};
    try {
        return {platform::pickerDate(t), {}};
    } catch (const platform::RuntimeError&) {
        if (platform::IsDate(t))
            return {std::nullopt, "outside the picker's range " +
                                      platform::shortDate(platform::kEarliestPickerDate) + " to " +
                                      platform::shortDate(platform::kLatestPickerDate)};
        return {std::nullopt, "not a date the picker reads"};
    }
}

std::string shownDate(const std::string& cell) {
    return common::isBlank(cell) ? "-" : std::string(common::trimSpaces(cell));
}

// Whether a row's VendorID names the vendor asked for: a database compares keys without
// regard to letter case or spaces around them, and numbers as numbers.
bool isVendor(const std::string& cell, const std::string& asked) {
    const std::string_view shown = common::trimBlanks(cell);
    const std::string_view wanted = common::trimBlanks(asked);
    if (common::equalsIgnoreCase(shown, wanted))
        return true;
    const auto digits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    const auto withoutZeros = [](std::string_view text) {
        const std::size_t first = text.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view("0") : text.substr(first);
    };
    return digits(shown) && digits(wanted) && withoutZeros(shown) == withoutZeros(wanted);
}

void checkRows(const DocumentReading& reading, const std::string& vendor, Report& report,
               Progress& progress) {
    EntryMatcher types(reading.types), locations(reading.locations);
    std::unordered_map<std::string, int> rowOfKey;
    for (const RowInfo& info : reading.rows) {
        if (info.number % 1000 == 0)
            progress.show("checking rows: " + grouped(std::size_t(info.number)) + " of " +
                          grouped(reading.rows.size()));
        const std::string subject = "row " + std::to_string(info.number);
        const std::size_t before = report.findings().size();
        const auto add = [&](Level level, std::string text) -> Finding& {
            Finding& finding = report.add(level, subject, std::move(text));
            finding.row = info.number;
            if (info.row)
                finding.sequence = info.row->sequence;
            return finding;
        };
        if (info.stops)
            add(Level::Fail, "GRID has " + counted(info.children, "child node") +
                                 "; the control needs nine: " + stopText(reading));
        if (!info.shifted.empty())
            add(Level::Warn, "child " + info.shifted +
                                 " is not an element: the control reads the cells by "
                                 "position, so they shift");
        if (!info.row)
            continue;
        const Row& row = *info.row;
        if (!common::isBlank(info.vendor) && !isVendor(info.vendor, vendor))
            add(Level::Fail, "VendorID " + quote(info.vendor, 20) +
                                 " is not the vendor asked for, " + quote(vendor, 20) +
                                 ": the page passes over Vendor, so the list shows another "
                                 "vendor's comment, and an edit or a delete of it changes vendor " +
                                 vendor + "'s comment of that sequence, if there is one");

        const auto checkLookup = [&](EntryMatcher& matcher, const std::string& text,
                                     const char* what) {
            if (matcher.matches(text))
                return;
            const std::string near = matcher.nearMatch(text);
            add(Level::Warn, std::string(what) + " " + quote(text) + " matches no " + what +
                                 " entry exactly" +
                                 (near.empty() ? "" : " (nearly: " + near + ")") +
                                 ": selecting the row leaves the " + what +
                                 " box as it was, on the row shown before or empty, and an "
                                 "edit saves that");
        };
        checkLookup(types, row.type, "type");
        checkLookup(locations, row.location, "location");

        const CellDate effective = cellDate(row.effective);
        const CellDate expires = cellDate(row.expires);
        for (const auto& [cell, date, what] : {std::tuple{&row.effective, &effective, "effective"},
                                               std::tuple{&row.expires, &expires, "expires"}}) {
            if (!date->refusal.empty())
                add(Level::Fail, std::string(what) + " date " + quote(*cell) + " is " +
                                     date->refusal +
                                     ": selecting the row stops filling the editor there; the "
                                     "row's key is not taken and Edit and Delete are disabled");
        }
        if (effective.date && expires.date && *expires.date < *effective.date)
            add(Level::Warn, "expires " + shownDate(row.expires) + " before effective " +
                                 shownDate(row.effective) +
                                 ": an edit of the comment cannot be saved until the dates "
                                 "are put right");
        else if (!effective.date && effective.refusal.empty() && expires.date)
            add(Level::Warn, "an expires date without an effective date: an edit of the comment "
                             "cannot be saved until an effective date is given");

        const std::string key = tavik::CommentSequenceKey(row.sequence);
        if (key.empty()) {
            add(Level::Warn,
                (common::isBlank(row.sequence)
                     ? std::string("no CommentSequence")
                     : "CommentSequence " + quote(row.sequence) + " is not a whole number") +
                    ": Edit and Delete are disabled for this row");
        } else if (const auto [first, added] = rowOfKey.emplace(key, info.number); !added) {
            add(Level::Warn, "CommentSequence " + key + " is also row " +
                                 std::to_string(first->second) +
                                 "'s: an edit or a delete of one of them reaches the other too");
        }

        if (row.comment.empty())
            add(Level::Warn, "an empty comment: the row cannot be opened for editing");
        else if (const std::string lacking = lackingCharacters(row.comment); !lacking.empty())
            add(Level::Warn, "the comment holds characters Windows-1252 lacks (" + lacking +
                                 "): an edit saves each of them as \"?\"");

        if (report.findings().size() == before)
            add(Level::Pass, "sequence " + key + ": " + quote(row.type, 20) + ", " +
                                 quote(row.location, 20) + ", " + shownDate(row.effective) +
                                 " to " + shownDate(row.expires) + ", " + quote(row.comment))
                .cells = row;
        // Ignored children do no harm: worth a line, not a warning.
        if (info.children > 9)
            add(Level::Pass, "GRID has " + std::to_string(info.children) +
                                 " child nodes: the control reads the first nine by position "
                                 "and passes over the rest");
    }
}

// The names of the elements passed over, each once, with how often it comes.
std::string passedOverNames(const std::vector<std::string>& passedOver) {
    std::vector<std::pair<std::string, int>> names;
    for (const std::string& name : passedOver) {
        const auto known = std::find_if(names.begin(), names.end(),
                                        [&](const auto& counted) { return counted.first == name; });
        if (known != names.end())
            ++known->second;
        else
            names.emplace_back(name, 1);
    }
    std::string text;
    for (const auto& [name, count] : names)
        text += (text.empty() ? "<" : ", <") + name + "> (" + grouped(std::size_t(count)) + ")";
    return text;
}

} // namespace

void checkDocument(const platform::XmlDocument& document, const std::string& vendor, Report& report,
                   Progress& progress) {
    const DocumentReading reading = readDocument(document, progress);
    if (reading.locations.empty() && reading.types.empty() && reading.rows.empty() &&
        !reading.passedOver.empty()) {
        report.fail("document", "the control shows nothing of this document: it reads only LOC, "
                                "TYP and GRID, letter case counting, and passes over " +
                                    passedOverNames(reading.passedOver) + ": its lists stay empty");
        return;
    }
    for (const std::string& name : reading.passedOver)
        report.warn("document", "an element <" + name +
                                    "> is passed over: the control reads only LOC, TYP and "
                                    "GRID, letter case counting, so what it holds is not shown");
    if (reading.types.empty())
        report.warn("lists", "no TYP entries: no comment can be saved, since a type is required");
    if (reading.locations.empty())
        report.warn("lists",
                    "no LOC entries: no comment can be saved, since a location is required");
    report.pass("lists", counted(reading.locations.size(), "location") + ", " +
                             counted(reading.types.size(), "type") + ", " +
                             counted(reading.rows.size(), "comment"));
    checkEntries(reading.locations, true, reading, report);
    checkEntries(reading.types, false, reading, report);
    checkRows(reading, vendor, report, progress);
}

} // namespace vccheck
