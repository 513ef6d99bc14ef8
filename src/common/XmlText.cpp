#include "XmlText.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace tavik::common {

namespace {

// The bytes that are not copied as they stand; most text has none, so it goes out in runs.
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> special{};
    for (int c = 0; c < 0x20; ++c) {
        special[static_cast<std::size_t>(c)] = c != '\t' && c != '\n';
    }
    special['&'] = special['<'] = special['>'] = true;
    return special;
}();

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

constexpr std::uint64_t zeroBytes(std::uint64_t x) {
    return (x - kOnes) & ~x & kHighs;
}

// Whether any of eight bytes may be special: below 0x20, '&', '<' or '>'. Tabs and line feeds
// are let through here and copied by the byte-wise check.
bool maybeSpecial(const char* p) {
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return ((x - 0x20 * kOnes) & ~x & kHighs) | zeroBytes(x ^ ('&' * kOnes)) |
           zeroBytes(x ^ ('<' * kOnes)) | zeroBytes(x ^ ('>' * kOnes));
}

std::string_view replacement(unsigned char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '\r':
        return "&#13;";
    default:
        return "?";
    }
}

} // namespace

void appendXmlText(std::string& out, std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* run = p; // the plain bytes not yet appended start here
    while (p < end) {
        // Text is mostly plain: it is skipped eight bytes at a time.
        if (end - p >= 8 && !maybeSpecial(p)) {
            p += 8;
            continue;
        }
        for (const char* const stop = end - p >= 8 ? p + 8 : end; p < stop; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            if (kSpecial[c]) {
                out.append(run, static_cast<std::size_t>(p - run));
                out += replacement(c);
                run = p + 1;
            }
        }
    }
    out.append(run, static_cast<std::size_t>(end - run));
}

// With the room known to be there, plain bytes are copied eight at a time as they are
// scanned, rather than in runs of any length.
char* writeXmlText(char* out, std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        if (end - p >= 8 && !maybeSpecial(p)) {
            std::memcpy(out, p, 8);
            out += 8;
            p += 8;
            continue;
        }
        for (const char* const stop = end - p >= 8 ? p + 8 : end; p < stop; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            if (kSpecial[c]) {
                const std::string_view r = replacement(c);
                std::memcpy(out, r.data(), r.size());
                out += r.size();
            } else {
                *out++ = static_cast<char>(c);
            }
        }
    }
    return out;
}

} // namespace tavik::common
