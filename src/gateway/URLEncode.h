#pragma once

#include <string>
#include <string_view>

// Percent-encodes the code-page bytes of a text: ASCII letters, digits and the `kept`
// punctuation stay, a space becomes "+" when `spaceAsPlus`, every other byte "%XX".
std::string PercentEncode(const std::string& text, std::string_view kept, bool spaceAsPlus);

// The value part of a form-encoded body: letters, digits and "*-._" stay, space is "+".
std::string URLEncode(const std::string& text);
