#pragma once

/// @file Guid.h
/// The identifiers of libraries, classes and interfaces, and their text form.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tavik {

/// A 128-bit identifier of a library, class or interface.
struct Guid {
    std::uint32_t data1;   ///< the first 8 hexadecimal digits
    std::uint16_t data2;   ///< the next 4
    std::uint16_t data3;   ///< the next 4
    std::uint8_t data4[8]; ///< the last 16, two a byte

    /// Whether two identifiers are the same.
    friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
inline std::string toString(const Guid& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                  static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                  g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

/// Reads the form above, braces optional, hexadecimal digits in either case. False, and
/// *out untouched, on anything else.
inline bool parseGuid(std::string_view text, Guid* out) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return false;
    std::uint8_t bytes[16];
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i++] != '-')
                return false;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            const char c = text[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes[n++] = static_cast<std::uint8_t>(value);
    }
    Guid g{};
    g.data1 = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
              std::uint32_t(bytes[2]) << 8 | bytes[3];
    g.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    g.data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int k = 0; k < 8; ++k)
        g.data4[k] = bytes[8 + k];
    *out = g;
    return true;
}

} // namespace tavik
