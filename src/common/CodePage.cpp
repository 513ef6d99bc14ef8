#include "CodePage.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace tavik::common {

namespace {

// Bytes 0x80 to 0x9F of Windows-1252. The five bytes the code page leaves unassigned map to
// the C1 controls of the same value, so every byte survives a round trip.
constexpr std::array<char32_t, 32> bytes80To9F = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char32_t unicodeOfAnsi(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? bytes80To9F[byte - 0x80] : char32_t(byte);
}

namespace {

std::optional<unsigned char> byteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<unsigned char>(c);
    for (std::size_t i = 0; i < bytes80To9F.size(); ++i)
        if (bytes80To9F[i] == c)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at `pos` and advances past it. An ill-formed sequence yields
// nothing and advances past its longest well-formed beginning (at least one byte), so one
// broken character becomes one replacement.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos++);
    if (lead < 0x80)
        return lead;

    int length = 0;
    char32_t c = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // overlong below
        else if (lead == 0xED)
            high = 0x9F; // surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // overlong below
        else if (lead == 0xF4)
            high = 0x8F; // beyond U+10FFFF above
    } else {
        return std::nullopt;
    }
    for (int i = 1; i < length; ++i) {
        if (pos >= text.size())
            return std::nullopt;
        const unsigned char next = byte(pos);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return std::nullopt;
        c = (c << 6) | (next & 0x3F);
        ++pos;
    }
    return c;
}

} // namespace

std::string toAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto c = decodeUtf8(utf8, pos);
        const auto byte = c ? byteOf(*c) : std::nullopt;
        out += byte ? char(*byte) : '?';
    }
    return out;
}

std::string fromAnsi(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char b : bytes)
        appendUtf8(out, unicodeOfAnsi(static_cast<unsigned char>(b)));
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    const std::size_t size = bytes.size();
    for (std::size_t pos = 0; pos < size;) {
        // Runs of ASCII, most of any text, go eight bytes at a time.
        for (std::uint64_t word = 0; pos + sizeof word <= size; pos += sizeof word) {
            std::memcpy(&word, bytes.data() + pos, sizeof word);
            if ((word & 0x8080808080808080) != 0)
                break;
        }
        if (pos >= size)
            break;
        if (static_cast<unsigned char>(bytes[pos]) < 0x80)
            ++pos;
        else if (!decodeUtf8(bytes, pos))
            return false;
    }
    return true;
}

} // namespace tavik::common
