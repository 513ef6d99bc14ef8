#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tavik::baseline {

// Whether an XML text in UTF-8 (or another byte-oriented encoding that keeps ASCII as it is)
// is free of what an XML 1.0 parser refuses but pugixml lets through: references to
// undefined entities or illegal characters, a bare "&", "<" inside an attribute value, a
// duplicate attribute, "]]>" in text, "--" inside a comment, control characters, U+FFFE and
// U+FFFF, and an XML declaration anywhere but at the very start or not in its own form. The
// structure itself (tags that match, one root) is left to the parser.
bool isFreeOfLaxMarkup(std::string_view xml);

// Where the content of the root element lies, and where it can be cut into parts that
// pugixml parses one by one as fragments with the result it gives for the whole: only
// after a child of the root ends, never inside one.
struct XmlOutline {
    bool partable = false;         // a root with content, and nothing that parses differently
    std::size_t contentBegin = 0;  // just after the root's start tag
    std::size_t contentEnd = 0;    // where the root's end tag starts
    std::vector<std::size_t> cuts; // ascending, inside the content, at least partBytes apart
};

// isFreeOfLaxMarkup, outlining the root's content on the way.
bool isFreeOfLaxMarkup(std::string_view xml, XmlOutline& outline, std::size_t partBytes);

} // namespace tavik::baseline
