#pragma once

#include <string>
#include <string_view>

namespace tavik::common {

// Escapes text for XML character data. Carriage returns are written as &#13; so they survive
// the reader's line-end normalisation; characters XML cannot carry become "?".
void appendXmlText(std::string& out, std::string_view text);

} // namespace tavik::common
