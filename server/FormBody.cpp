#include "FormBody.h"

#include "platform/CodePage.h"

namespace vcserver {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::optional<std::string> formDecode(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= encoded.size()) {
                return std::nullopt;
            }
            const int hi = hexValue(encoded[i + 1]);
            const int lo = hexValue(encoded[i + 2]);
            if (hi < 0 || lo < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

SqlField sqlFieldOf(std::string_view body) {
    constexpr std::string_view prefix = "SQL=";
    if (body.substr(0, prefix.size()) != prefix) {
        return {std::nullopt, "the request body must be SQL= followed by the statement."};
    }
    const std::string_view value = body.substr(prefix.size());
    // The control escapes "&", so a second field means the body did not come from it.
    if (value.find('&') != std::string_view::npos) {
        return {std::nullopt, "the request body must hold only the SQL field."};
    }
    auto bytes = formDecode(value);
    if (!bytes) {
        return {std::nullopt, "the request body holds a malformed %-escape."};
    }
    return {tavik::platform::fromAnsi(*bytes), {}};
}

} // namespace vcserver
