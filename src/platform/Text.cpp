#include "Text.h"

#include "CodePage.h"

#include <algorithm>

namespace tavik::platform {

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

} // namespace tavik::platform
