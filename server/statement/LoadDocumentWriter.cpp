#include "statement/LoadDocumentWriter.h"

#include "statement/DateText.h"

#include "common/XmlText.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>
#include <string_view>
#include <tuple>

namespace vcserver {

namespace {

using tavik::common::kXmlTextGrowth;
using tavik::common::writeXmlText;

// A large document is tens of thousands of elements. Each row makes room for the most it can
// take once, then every piece is a plain copy through a pointer, and the tags between two
// values go out as one literal.
constexpr std::string_view kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorComments>\n";
constexpr std::string_view kTail = "</VendorComments>\n";

constexpr std::string_view kGridTags[] = {
    "  <GRID>\n    <VendorID>",         "</VendorID>\n    <CommentSequence>",
    "</CommentSequence>\n    <Type>",   "</Type>\n    <TypeName>",
    "</TypeName>\n    <Location>",      "</Location>\n    <LocationName>",
    "</LocationName>\n    <Effective>", "</Effective>\n    <Expires>",
    "</Expires>\n    <Comment>",        "</Comment>\n  </GRID>\n",
};
constexpr std::string_view kLookupTags[] = {"    <Code>", "</Code>\n    <Name>", "</Name>\n"};

constexpr std::size_t kNumberBytes = 20; // an int64_t's digits and sign
constexpr std::size_t kDateBytes = 24;   // M/d/yyyy of any year

// The room the tags of a row take, besides its numbers, dates and texts.
constexpr std::size_t tagBytes(const auto& tags) {
    std::size_t size = 0;
    for (const auto tag : tags) {
        size += tag.size();
    }
    return size;
}

char* put(char* p, std::string_view piece) {
    std::memcpy(p, piece.data(), piece.size());
    return p + piece.size();
}

char* putNumber(char* p, std::int64_t value) {
    return std::to_chars(p, p + kNumberBytes, value).ptr;
}

// 1 to 99 without a leading zero.
char* putSmall(char* p, int value) {
    if (value >= 10) {
        *p++ = static_cast<char>('0' + value / 10);
    }
    *p++ = static_cast<char>('0' + value % 10);
    return p;
}

// Stored dates are yyyy-mm-dd and are read in place: this runs twice per row. Anything else
// written to the table by other means is passed on as it stands rather than dropped. Takes at
// most kDateBytes plus the escaped stored text.
char* putDate(char* p, std::string_view stored) {
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
            p = putSmall(p, month);
            *p++ = '/';
            p = putSmall(p, day);
            *p++ = '/';
            return put(p, stored.substr(0, 4)); // four digits, as M/d/yyyy has
        }
    }
    if (stored.empty()) {
        return p;
    }
    if (const auto parsed = parseDateText(stored)) {
        return put(p, shortDate(*parsed));
    }
    return writeXmlText(p, stored);
}

void byCode(std::vector<LookupEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const LookupEntry& a, const LookupEntry& b) { return a.code < b.code; });
}

// A code no entry has shows an empty name.
std::string_view nameOf(const std::vector<LookupEntry>& byCode, std::int64_t code) {
    const auto it =
        std::lower_bound(byCode.begin(), byCode.end(), code,
                         [](const LookupEntry& e, std::int64_t c) { return e.code < c; });
    return it != byCode.end() && it->code == code ? std::string_view(it->name) : std::string_view();
}

} // namespace

DocumentText::DocumentText(std::string_view text) {
    if (!text.empty()) {
        bytes_.reset(static_cast<char*>(std::malloc(text.size())));
        if (!bytes_) {
            throw std::bad_alloc();
        }
        std::memcpy(bytes_.get(), text.data(), text.size());
        size_ = capacity_ = text.size();
    }
}

LoadDocumentWriter::LoadDocumentWriter(std::size_t expectedBytes) : expected_(expectedBytes) {}

void LoadDocumentWriter::reallocate(std::size_t capacity) {
    char* moved = static_cast<char*>(std::realloc(out_.bytes_.get(), capacity));
    if (!moved) {
        throw std::bad_alloc();
    }
    (void)out_.bytes_.release();
    out_.bytes_.reset(moved);
    out_.capacity_ = capacity;
}

char* LoadDocumentWriter::room(std::size_t bytes) {
    if (out_.capacity_ - out_.size_ < bytes) {
        // The expected size with a little over, so a document as large as the one expected
        // never moves for the room its last rows ask.
        reallocate(
            std::max({out_.capacity_ * 2, out_.size_ + bytes, expected_ + expected_ / 32 + 4096}));
    }
    return out_.bytes_.get() + out_.size_;
}

void LoadDocumentWriter::advance(const char* end) {
    out_.size_ = static_cast<std::size_t>(end - out_.bytes_.get());
}

void LoadDocumentWriter::lookups(std::vector<LookupEntry> locations,
                                 std::vector<LookupEntry> types) {
    out_.size_ = 0;
    comments_ = 0;
    advance(put(room(kHead.size()), kHead));
    using Tags = std::tuple<std::vector<LookupEntry>*, std::string_view, std::string_view>;
    for (const auto& [entries, open, close] :
         {Tags{&locations, "  <LOC>\n", "  </LOC>\n"}, Tags{&types, "  <TYP>\n", "  </TYP>\n"}}) {
        for (const auto& entry : *entries) {
            char* p = room(open.size() + close.size() + tagBytes(kLookupTags) + kNumberBytes +
                           kXmlTextGrowth * entry.name.size());
            p = put(p, open);
            p = put(p, kLookupTags[0]);
            p = putNumber(p, entry.code);
            p = put(p, kLookupTags[1]);
            p = writeXmlText(p, entry.name);
            p = put(p, kLookupTags[2]);
            advance(put(p, close));
        }
    }
    locations_ = std::move(locations);
    types_ = std::move(types);
    byCode(locations_);
    byCode(types_);
    started_ = true;
}

void LoadDocumentWriter::comment(const CommentRow& c) {
    if (!started_) {
        lookups({}, {});
    }
    ++comments_;
    const std::string_view typeName = nameOf(types_, c.type);
    const std::string_view locationName = nameOf(locations_, c.location);
    char* p = room(tagBytes(kGridTags) + 3 * kNumberBytes + 2 * kDateBytes +
                   kXmlTextGrowth * (c.vendor.size() + typeName.size() + locationName.size() +
                                     c.effective.size() + c.expires.size() + c.comment.size()));
    p = put(p, kGridTags[0]);
    p = writeXmlText(p, c.vendor);
    p = put(p, kGridTags[1]);
    p = putNumber(p, c.sequence);
    p = put(p, kGridTags[2]);
    p = putNumber(p, c.type);
    p = put(p, kGridTags[3]);
    p = writeXmlText(p, typeName);
    p = put(p, kGridTags[4]);
    p = putNumber(p, c.location);
    p = put(p, kGridTags[5]);
    p = writeXmlText(p, locationName);
    p = put(p, kGridTags[6]);
    p = putDate(p, c.effective);
    p = put(p, kGridTags[7]);
    p = putDate(p, c.expires);
    p = put(p, kGridTags[8]);
    p = writeXmlText(p, c.comment);
    advance(put(p, kGridTags[9]));
}

DocumentText LoadDocumentWriter::finish() && {
    if (!started_) {
        lookups({}, {});
    }
    advance(put(room(kTail.size()), kTail));
    // Room left over from growing would be held as long as the document is kept.
    if (out_.capacity_ - out_.size_ > out_.size_ / 8) {
        reallocate(out_.size_);
    }
    return std::move(out_);
}

std::string loadDocument(const VendorComments& data) {
    LoadDocumentWriter writer;
    handOn(data, writer);
    return std::string(std::move(writer).finish().view());
}

} // namespace vcserver
