#include "domain/CalendarDate.h"

#include <cstdio>

namespace vcserver {

std::string isoDate(const CalendarDate& date) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", date.year, date.month, date.day);
    return buf;
}

std::string shortDate(const CalendarDate& date) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d/%d/%04d", date.month, date.day, date.year);
    return buf;
}

} // namespace vcserver
