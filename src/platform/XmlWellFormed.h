#pragma once

#include <string_view>

namespace tavik::platform {

// Whether an XML text in UTF-8 (or another byte-oriented encoding that keeps ASCII as it is)
// is free of what an XML 1.0 parser refuses but pugixml lets through: references to
// undefined entities or illegal characters, a bare "&", "<" inside an attribute value, a
// duplicate attribute, "]]>" in text, "--" inside a comment, and control characters. The
// structure itself (tags that match, one root) is left to the parser.
bool isFreeOfLaxMarkup(std::string_view xml);

} // namespace tavik::platform
