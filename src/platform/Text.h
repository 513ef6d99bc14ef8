#pragma once

#include <string>
#include <string_view>

// Small text helpers that the control's logic and its platform pieces share. ASCII only:
// they compare and trim the control's own keywords, keys and blanks, never the user's text.
namespace tavik::platform {

char asciiLower(char c);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Without leading and trailing spaces (only spaces: tabs and line breaks stay).
std::string_view trimSpaces(std::string_view text);
// Empty, or nothing but spaces.
bool isBlank(std::string_view text);
// Without leading and trailing spaces and tabs.
std::string_view trimBlanks(std::string_view text);

// Percent-encodes the code-page bytes of a text: ASCII letters, digits and the `kept`
// punctuation stay, a space becomes "+" when `spaceAsPlus`, every other byte "%XX".
std::string percentEncode(std::string_view text, std::string_view kept, bool spaceAsPlus);

} // namespace tavik::platform
