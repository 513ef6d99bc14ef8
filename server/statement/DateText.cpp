#include "statement/DateText.h"

#include "common/DateReader.h"

#include <tuple>

namespace vcserver {

std::optional<CalendarDate> parseDateText(std::string_view text) {
    const auto reading = tavik::common::readDateText(text);
    if (!reading) {
        return std::nullopt;
    }
    const CalendarDate date{reading->year, static_cast<int>(reading->month),
                            static_cast<int>(reading->day)};
    const auto key = [](const CalendarDate& d) { return std::tie(d.year, d.month, d.day); };
    if (key(date) < key(kFirstDate) || key(date) > key(kLastDate)) {
        return std::nullopt;
    }
    return date;
}

} // namespace vcserver
