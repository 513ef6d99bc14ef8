#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vcserver {

// The statement carried by a POST body "SQL=<form-encoded statement>", as UTF-8, or the
// reason the body was not of that shape.
struct SqlField {
    std::optional<std::string> statement;
    std::string error;
};
SqlField sqlFieldOf(std::string_view body);

} // namespace vcserver
