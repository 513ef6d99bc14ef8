#include "BaselineLoadDocument.h"

#include "statement/DateText.h"

#include <sqlite3.h>

#include <stdexcept>

namespace vcbench {

using namespace vcserver;

namespace {

// The character-at-a-time escaping of the old writer.
void appendXmlText(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                out += '?';
            } else {
                out += c;
            }
        }
    }
}

void element(std::string& out, const char* indent, const char* name, std::string_view text) {
    out += indent;
    out += '<';
    out += name;
    out += '>';
    appendXmlText(out, text);
    out += "</";
    out += name;
    out += ">\n";
}

// Stored dates are yyyy-mm-dd; anything else written to the table by other means is passed
// on as it stands rather than dropped.
std::string displayDate(const std::string& stored) {
    if (stored.empty()) {
        return {};
    }
    // The stored form is read directly: this runs twice per row of a large document.
    const auto digits = [&](std::size_t from, std::size_t count) {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (stored[i] < '0' || stored[i] > '9') {
                return -1;
            }
            value = value * 10 + (stored[i] - '0');
        }
        return value;
    };
    if (stored.size() == 10 && stored[4] == '-' && stored[7] == '-') {
        const int year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
        if (year > 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31) {
            return shortDate({year, month, day});
        }
    }
    const auto date = parseDateText(stored);
    return date ? shortDate(*date) : stored;
}

void lookup(std::string& out, const char* name, const LookupEntry& entry) {
    out += "  <";
    out += name;
    out += ">\n";
    element(out, "    ", "Code", std::to_string(entry.code));
    element(out, "    ", "Name", entry.name);
    out += "  </";
    out += name;
    out += ">\n";
}

std::string columnText(sqlite3_stmt* q, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(q, col)))
             : std::string();
}

// Runs the query, bound to text when given, and hands each row to row.
template <typename Row> void each(sqlite3* db, const char* sql, const std::string* text, Row row) {
    sqlite3_stmt* q = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
    if (text) {
        sqlite3_bind_text(q, 1, text->c_str(), static_cast<int>(text->size()), SQLITE_STATIC);
    }
    while (sqlite3_step(q) == SQLITE_ROW) {
        row(q);
    }
    sqlite3_finalize(q);
}

std::vector<LookupEntry> lookups(sqlite3* db, const char* sql) {
    std::vector<LookupEntry> entries;
    each(db, sql, nullptr, [&](sqlite3_stmt* q) {
        entries.push_back({sqlite3_column_int64(q, 0), columnText(q, 1)});
    });
    return entries;
}

} // namespace

BaselineReader::BaselineReader(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot open " + file);
    }
}

BaselineReader::~BaselineReader() {
    sqlite3_close(db_);
}

BaselineRows BaselineReader::read(const std::string& vendor) {
    BaselineRows out;
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    out.locations = lookups(
        db_, "SELECT Code, Name FROM CommentLocation ORDER BY Name COLLATE NOCASE, Name, Code");
    out.types =
        lookups(db_, "SELECT Code, Name FROM CommentType ORDER BY Name COLLATE NOCASE, Name, Code");
    each(db_, "SELECT COUNT(*) FROM VendorComment WHERE VendorID = ?1", &vendor,
         [&](sqlite3_stmt* q) {
             out.comments.reserve(static_cast<std::size_t>(sqlite3_column_int64(q, 0)));
         });
    each(db_,
         "SELECT c.VendorID, c.CommentSequence, c.Type, COALESCE(t.Name, ''), c.Location, "
         "COALESCE(l.Name, ''), COALESCE(c.Effective, ''), COALESCE(c.Expires, ''), c.Comment "
         "FROM VendorComment c LEFT JOIN CommentType t ON t.Code = c.Type "
         "LEFT JOIN CommentLocation l ON l.Code = c.Location "
         "WHERE c.VendorID = ?1 ORDER BY c.CommentSequence",
         &vendor, [&](sqlite3_stmt* q) {
             out.comments.push_back({columnText(q, 0), sqlite3_column_int64(q, 1),
                                     sqlite3_column_int64(q, 2), columnText(q, 3),
                                     sqlite3_column_int64(q, 4), columnText(q, 5), columnText(q, 6),
                                     columnText(q, 7), columnText(q, 8)});
         });
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    return out;
}

std::string baselineLoadDocument(const BaselineRows& data) {
    std::string out;
    out.reserve(256 + data.comments.size() * 400);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorComments>\n";
    for (const auto& loc : data.locations) {
        lookup(out, "LOC", loc);
    }
    for (const auto& typ : data.types) {
        lookup(out, "TYP", typ);
    }
    for (const auto& c : data.comments) {
        out += "  <GRID>\n";
        element(out, "    ", "VendorID", c.vendor);
        element(out, "    ", "CommentSequence", std::to_string(c.sequence));
        element(out, "    ", "Type", std::to_string(c.type));
        element(out, "    ", "TypeName", c.typeName);
        element(out, "    ", "Location", std::to_string(c.location));
        element(out, "    ", "LocationName", c.locationName);
        element(out, "    ", "Effective", displayDate(c.effective));
        element(out, "    ", "Expires", displayDate(c.expires));
        element(out, "    ", "Comment", c.comment);
        out += "  </GRID>\n";
    }
    out += "</VendorComments>\n";
    return out;
}

} // namespace vcbench
