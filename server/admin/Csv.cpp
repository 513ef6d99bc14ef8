#include "admin/Csv.h"

namespace vcserver {

CsvReader::CsvReader(std::string_view text) : text_(text) {
    // A byte order mark, as spreadsheet programs write one.
    if (text_.starts_with("\xEF\xBB\xBF")) {
        pos_ = 3;
    }
}

bool CsvReader::next(CsvRecord& record) {
    record = {};
    if (pos_ >= text_.size()) {
        return false;
    }
    record.line = line_;
    std::string field;
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the field began with a quote
    bool afterQuote = false; // its closing quote was seen
    const auto fail = [&](std::string message) {
        record.error = std::move(message);
        // Go on at the next line.
        while (pos_ < text_.size() && text_[pos_] != '\n') {
            ++pos_;
        }
        if (pos_ < text_.size()) {
            ++pos_;
            ++line_;
        }
        return true;
    };
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (quoted) {
            ++pos_;
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    field += '"';
                    ++pos_;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                if (c == '\n') {
                    ++line_;
                }
                field += c;
            }
            continue;
        }
        if (c == ',') {
            record.fields.push_back(std::move(field));
            field.clear();
            wasQuoted = afterQuote = false;
            ++pos_;
            continue;
        }
        if (c == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') {
            ++pos_;
            continue;
        }
        if (c == '\n') {
            ++pos_;
            ++line_;
            break;
        }
        if (afterQuote) {
            return fail("text after the closing quote of field " +
                        std::to_string(record.fields.size() + 1));
        }
        if (c == '"') {
            if (!field.empty() || wasQuoted) {
                return fail("a quote inside unquoted field " +
                            std::to_string(record.fields.size() + 1));
            }
            quoted = wasQuoted = true;
            ++pos_;
            continue;
        }
        field += c;
        ++pos_;
    }
    if (quoted) {
        record.error = "a quoted field that never ends";
        return true;
    }
    record.fields.push_back(std::move(field));
    return true;
}

std::string csvField(std::string_view value) {
    const bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!value.empty() && (value.front() == ' ' || value.back() == ' '));
    if (!quote) {
        return std::string(value);
    }
    std::string out = "\"";
    for (const char c : value) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

namespace {

// Whether the field, past its leading apostrophes, starts with a character that a spreadsheet
// program takes for the start of a formula.
bool formulaAfterApostrophes(std::string_view field) {
    const std::size_t at = field.find_first_not_of('\'');
    return at != std::string_view::npos &&
           std::string_view("=+-@\t\r").find(field[at]) != std::string_view::npos;
}

} // namespace

std::string forSpreadsheet(std::string_view value) {
    return formulaAfterApostrophes(value) ? "'" + std::string(value) : std::string(value);
}

std::string_view fromSpreadsheet(std::string_view field) {
    return field.starts_with('\'') && formulaAfterApostrophes(field) ? field.substr(1) : field;
}

} // namespace vcserver
