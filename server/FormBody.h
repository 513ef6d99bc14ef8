#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vcserver {

// Decodes one form-encoded value: "+" is a space and "%XX" the byte XX. Returns nothing when
// a "%" is not followed by two hexadecimal digits.
std::optional<std::string> formDecode(std::string_view encoded);

// Reads bytes as Windows-1252 and returns them as UTF-8. The five bytes that code page leaves
// undefined map to the C1 control characters of the same value, as Windows itself reads them.
std::string windows1252ToUtf8(std::string_view bytes);

// The statement carried by a POST body "SQL=<form-encoded statement>", as UTF-8, or the
// reason the body was not of that shape.
struct SqlField {
    std::optional<std::string> statement;
    std::string error;
};
SqlField sqlFieldOf(std::string_view body);

} // namespace vcserver
