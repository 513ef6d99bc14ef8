#include "URLEncode.h"

#include "../platform/CodePage.h"

std::string PercentEncode(const std::string& text, std::string_view kept, bool spaceAsPlus) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string result;
    for (const unsigned char code : platform::toAnsi(text)) {
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

std::string URLEncode(const std::string& text) {
    return PercentEncode(text, "*-._", true);
}
