#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vcserver {

// One record of a CSV text (RFC 4180: fields in double quotes may hold commas, line breaks
// and doubled quotes; records end with CRLF or LF).
struct CsvRecord {
    std::size_t line = 0; // where the record starts, from 1
    std::vector<std::string> fields;
    std::string error; // set for a malformed record, whose fields are then incomplete
};

class CsvReader {
public:
    explicit CsvReader(std::string_view text);

    // The next record; false after the last. A malformed record comes back with its error,
    // and reading goes on at the next line (after an unterminated quote there is none).
    bool next(CsvRecord& record);

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
};

// A field as CSV writes it: in double quotes when it holds a comma, a quote, a line break
// or blanks at an end.
std::string csvField(std::string_view value);

// A field as a spreadsheet program takes it as text: "'" before one that starts with "=",
// "+", "-", "@", a tab or a CR, which it would otherwise run as a formula. Also before one
// that starts with apostrophes and then such a character, so that fromSpreadsheet gives back
// a real leading apostrophe.
std::string forSpreadsheet(std::string_view value);

// What forSpreadsheet was given: one "'" taken off a field that starts with apostrophes and
// then one of its characters; every other field as it stands.
std::string_view fromSpreadsheet(std::string_view field);

} // namespace vcserver
