#pragma once

#include <string>
#include <string_view>

namespace tavik::common {

// Escapes text for XML character data. Carriage returns are written as &#13; so they survive
// the reader's line-end normalisation; characters XML cannot carry become "?".
void appendXmlText(std::string& out, std::string_view text);

// The same into room for kXmlTextGrowth bytes per byte of text; returns the end written.
inline constexpr std::size_t kXmlTextGrowth = 5;
char* writeXmlText(char* out, std::string_view text);

} // namespace tavik::common
