#pragma once

#include <array>
#include <optional>
#include <string_view>

// The one reader of date texts that the control and the reference server share, so that both
// take and refuse the same texts.
namespace tavik::common {

inline constexpr std::array<std::string_view, 12> monthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// The years a date may have.
inline constexpr int minYear = 100;
inline constexpr int maxYear = 9999;

struct DateReading {
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    int secondsOfDay = 0; // 0 to 86399; 0 when the text gives no time
};

// Reads a date with an optional time of day: M/d/yyyy, yyyy-MM-dd, "MMM d, yyyy",
// "MMM dd, yyyy", "MMMM d, yyyy", each optionally followed by h:mm[:ss] [AM|PM] or
// H:mm[:ss]; a two-digit year takes the century by the window 00-29 → 2000s, 30-99 →
// 1900s. Blanks (spaces and tabs) around the text are allowed. Returns nothing when the text
// is not such a date, its time is impossible, or it names no real day of the years 100 to
// 9999.
std::optional<DateReading> readDateText(std::string_view text);

} // namespace tavik::common
