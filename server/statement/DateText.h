#pragma once

#include "domain/CalendarDate.h"

#include <optional>
#include <string_view>

namespace vcserver {

// Reads a date as the control reads it (tavik::common::readDateText: M/d/yyyy with a two- or
// four-digit year, yyyy-mm-dd, "MMM d, yyyy" and "MMMM d, yyyy", each optionally with a time
// of day, which must be a real one and is then ignored). Returns nothing for text the
// control would refuse, and for a date before kFirstDate.
std::optional<CalendarDate> parseDateText(std::string_view text);

} // namespace vcserver
