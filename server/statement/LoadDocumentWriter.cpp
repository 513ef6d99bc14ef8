#include "statement/LoadDocumentWriter.h"

#include "statement/DateText.h"

#include "common/XmlText.h"

#include <charconv>
#include <string_view>

namespace vcserver {

namespace {

// A large document is tens of thousands of elements: each goes out as few appends as it can,
// its tags and indents as whole literals.
struct Child {
    std::string_view open;  // indent and start tag
    std::string_view close; // end tag and line end
};

constexpr Child kCode{"    <Code>", "</Code>\n"};
constexpr Child kName{"    <Name>", "</Name>\n"};
constexpr Child kVendorId{"    <VendorID>", "</VendorID>\n"};
constexpr Child kSequence{"    <CommentSequence>", "</CommentSequence>\n"};
constexpr Child kType{"    <Type>", "</Type>\n"};
constexpr Child kTypeName{"    <TypeName>", "</TypeName>\n"};
constexpr Child kLocation{"    <Location>", "</Location>\n"};
constexpr Child kLocationName{"    <LocationName>", "</LocationName>\n"};
constexpr Child kEffective{"    <Effective>", "</Effective>\n"};
constexpr Child kExpires{"    <Expires>", "</Expires>\n"};
constexpr Child kComment{"    <Comment>", "</Comment>\n"};

// Every byte a GRID adds beside its texts, with room for its numbers and dates.
constexpr std::size_t kGridBytes = 320;

void text(std::string& out, const Child& child, std::string_view value) {
    out += child.open;
    tavik::common::appendXmlText(out, value);
    out += child.close;
}

void number(std::string& out, const Child& child, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out += child.open;
    out.append(digits, end);
    out += child.close;
}

// 1 to 99 without a leading zero.
void appendSmall(std::string& out, int value) {
    if (value >= 10) {
        out += static_cast<char>('0' + value / 10);
    }
    out += static_cast<char>('0' + value % 10);
}

// Stored dates are yyyy-mm-dd and are read in place: this runs twice per row. Anything else
// written to the table by other means is passed on as it stands rather than dropped.
void date(std::string& out, const Child& child, const std::string& stored) {
    out += child.open;
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
            appendSmall(out, month);
            out += '/';
            appendSmall(out, day);
            out += '/';
            out.append(stored, 0, 4); // four digits, as M/d/yyyy has
            out += child.close;
            return;
        }
    }
    if (!stored.empty()) {
        const auto parsed = parseDateText(stored);
        tavik::common::appendXmlText(out, parsed ? shortDate(*parsed) : stored);
    }
    out += child.close;
}

void lookup(std::string& out, std::string_view open, std::string_view close,
            const LookupEntry& entry) {
    out += open;
    number(out, kCode, entry.code);
    text(out, kName, entry.name);
    out += close;
}

// Enough for the whole document unless many characters need escaping, so it is written
// without moving.
std::size_t expectedSize(const VendorComments& data) {
    std::size_t size = 256;
    for (const auto* entries : {&data.locations, &data.types}) {
        for (const auto& entry : *entries) {
            size += 64 + entry.name.size();
        }
    }
    for (const auto& c : data.comments) {
        size += kGridBytes + c.vendor.size() + c.typeName.size() + c.locationName.size() +
                c.effective.size() + c.expires.size() + c.comment.size();
    }
    return size;
}

} // namespace

std::string loadDocument(const VendorComments& data) {
    std::string out;
    out.reserve(expectedSize(data));
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorComments>\n";
    for (const auto& loc : data.locations) {
        lookup(out, "  <LOC>\n", "  </LOC>\n", loc);
    }
    for (const auto& typ : data.types) {
        lookup(out, "  <TYP>\n", "  </TYP>\n", typ);
    }
    for (const auto& c : data.comments) {
        out += "  <GRID>\n";
        text(out, kVendorId, c.vendor);
        number(out, kSequence, c.sequence);
        number(out, kType, c.type);
        text(out, kTypeName, c.typeName);
        number(out, kLocation, c.location);
        text(out, kLocationName, c.locationName);
        date(out, kEffective, c.effective);
        date(out, kExpires, c.expires);
        text(out, kComment, c.comment);
        out += "  </GRID>\n";
    }
    out += "</VendorComments>\n";
    return out;
}

} // namespace vcserver
