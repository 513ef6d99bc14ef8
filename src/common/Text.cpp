#include "Text.h"

#include "CodePage.h"

#include <algorithm>

namespace tavik::common {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool isBlank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string nounAfter(unsigned long long count, std::string_view noun, std::string_view plural) {
    if (count == 1)
        return std::string(noun);
    return plural.empty() ? std::string(noun) + "s" : std::string(plural);
}

std::string excerpt(std::string_view value, std::size_t maxChars, bool asciiOnly) {
    std::string out;
    std::size_t chars = 0;
    std::size_t at = 0;
    for (; at < value.size(); ++at) {
        const auto b = static_cast<unsigned char>(value[at]);
        if (asciiOnly || (b & 0xC0) != 0x80) { // a character starts here
            if (chars == maxChars)
                break;
            ++chars;
        }
        const bool shown = asciiOnly ? b >= 0x20 && b < 0x7F : b >= 0x20 && b != 0x7F;
        out += shown ? char(b) : '?';
    }
    if (at < value.size())
        out += "...";
    return out;
}

std::string percentEncode(std::string_view text, std::string_view kept, bool spaceAsPlus) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string result;
    for (const unsigned char code : toAnsi(text)) {
        if (code == ' ' && spaceAsPlus) {
            result += '+';
        } else if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') ||
                   (code >= 'a' && code <= 'z') || kept.find(char(code)) != kept.npos) {
            result += char(code);
        } else {
            result += '%';
            result += hex[code >> 4];
            result += hex[code & 15];
        }
    }
    return result;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecode(std::string_view text, bool plusAsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusAsSpace) {
            out += ' ';
        } else if (c == '%') {
            const int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
            const int lo = hi >= 0 ? hexValue(text[i + 2]) : -1;
            if (lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace tavik::common
