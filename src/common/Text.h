#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Small text helpers that the control, the reference server and the programs share. ASCII
// only: they compare and trim keywords, keys and blanks, never the user's text.
namespace tavik::common {

char asciiLower(char c);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Without leading and trailing spaces (only spaces: tabs and line breaks stay).
std::string_view trimSpaces(std::string_view text);
// Empty, or nothing but spaces.
bool isBlank(std::string_view text);
// Without leading and trailing spaces and tabs.
std::string_view trimBlanks(std::string_view text);

// The noun as it reads after a count: singular after 1, plural after 0 and many ("1 comment",
// "2 comments"); `plural` for a noun that does not just take an "s" ("entry", "entries").
std::string nounAfter(unsigned long long count, std::string_view noun,
                      std::string_view plural = {});

// How a message quotes a value it refuses: at most `maxChars` characters (UTF-8 sequences
// kept whole), then "..." when there is more, so a huge value gives a short message. Control
// characters show as "?", keeping the message on one line; with `asciiOnly`, every byte
// outside printable ASCII does, each counting as one character.
inline constexpr std::size_t kExcerptChars = 80;
std::string excerpt(std::string_view value, std::size_t maxChars = kExcerptChars,
                    bool asciiOnly = false);

// Percent-encodes the code-page bytes of a text: ASCII letters, digits and the `kept`
// punctuation stay, a space becomes "+" when `spaceAsPlus`, every other byte "%XX".
std::string percentEncode(std::string_view text, std::string_view kept, bool spaceAsPlus);

// The value of a hexadecimal digit of either case; -1 for any other character.
int hexValue(char c);

// The bytes behind "%XX" escapes ("+" becomes a space when `plusAsSpace`); nothing when a
// "%" is not followed by two hexadecimal digits.
std::optional<std::string> percentDecode(std::string_view text, bool plusAsSpace);

} // namespace tavik::common
