#pragma once

#include <string>

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

// yyyy-mm-dd, the stored form.
std::string isoDate(const CalendarDate& date);

// M/d/yyyy without leading zeros in month and day, the form the load document carries; the
// year always has four digits, as the control's parser wants.
std::string shortDate(const CalendarDate& date);

} // namespace vcserver
