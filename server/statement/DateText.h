#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vcserver {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// The dates the page takes: the range of the control's date pickers, so that every date
// stored can be shown and edited there.
inline constexpr CalendarDate kFirstDate{1753, 1, 1};
inline constexpr CalendarDate kLastDate{9999, 12, 31};

// Reads a date as the control reads it (tavik::common::readDateText: M/d/yyyy with a two- or
// four-digit year, yyyy-mm-dd, "MMM d, yyyy" and "MMMM d, yyyy", each optionally with a time
// of day, which must be a real one and is then ignored). Returns nothing for text the
// control would refuse, and for a date before kFirstDate.
std::optional<CalendarDate> parseDateText(std::string_view text);

// yyyy-mm-dd, the stored form.
std::string isoDate(const CalendarDate& date);

// M/d/yyyy without leading zeros in month and day, the form the load document carries; the
// year always has four digits, as the control's parser wants.
std::string shortDate(const CalendarDate& date);

} // namespace vcserver
