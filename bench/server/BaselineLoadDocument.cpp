#include "BaselineLoadDocument.h"

#include "statement/DateText.h"

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

} // namespace

std::string baselineLoadDocument(const VendorComments& data) {
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
