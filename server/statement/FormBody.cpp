#include "statement/FormBody.h"

#include "common/CodePage.h"
#include "common/Text.h"

namespace vcserver {

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
    auto bytes = tavik::common::percentDecode(value, true);
    if (!bytes) {
        return {std::nullopt, "the request body holds a malformed %-escape."};
    }
    return {tavik::common::fromAnsi(*bytes), {}};
}

} // namespace vcserver
