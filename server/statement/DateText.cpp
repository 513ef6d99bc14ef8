#include "DateText.h"

#include "common/Text.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <regex>

namespace vcserver {

namespace {

// A time of day after the date, as a general date text carries it ("4/1/2009 3:15:00 PM").
constexpr const char* kTime = R"((?:\s+\d{1,2}:\d{2}(?::\d{2})?(?:\s*[AaPp][Mm])?)?\s*)";

const std::regex& shortPattern() {
    static const std::regex re(std::string(R"(\s*(\d{1,2})/(\d{1,2})/(\d{4}))") + kTime);
    return re;
}

const std::regex& isoPattern() {
    static const std::regex re(std::string(R"(\s*(\d{4})-(\d{1,2})-(\d{1,2}))") + kTime);
    return re;
}

const std::regex& namedMonthPattern() {
    static const std::regex re(std::string(R"(\s*([A-Za-z]{3,9})\.?\s+(\d{1,2}),\s*(\d{4}))") +
                               kTime);
    return re;
}

int monthFromName(std::string_view name) {
    static constexpr std::array<std::string_view, 12> names = {
        "january", "february", "march",     "april",   "may",      "june",
        "july",    "august",   "september", "october", "november", "december"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (tavik::common::equalsIgnoreCase(name, names[i]) ||
            tavik::common::equalsIgnoreCase(name, names[i].substr(0, 3))) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

std::optional<CalendarDate> checked(int year, int month, int day) {
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                             std::chrono::day{unsigned(day)}};
    if (year < kFirstDate.year || year > kLastDate.year || month < 1 || day < 1 || !ymd.ok()) {
        return std::nullopt;
    }
    return CalendarDate{year, month, day};
}

} // namespace

std::optional<CalendarDate> parseDateText(std::string_view text) {
    // Long texts cannot be dates; the bound also keeps the regex work small.
    if (text.size() > 64) {
        return std::nullopt;
    }
    const std::string s(text);
    std::smatch m;
    if (std::regex_match(s, m, shortPattern())) {
        return checked(std::stoi(m[3]), std::stoi(m[1]), std::stoi(m[2]));
    }
    if (std::regex_match(s, m, isoPattern())) {
        return checked(std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]));
    }
    if (std::regex_match(s, m, namedMonthPattern())) {
        const int month = monthFromName(m[1].str());
        if (month == 0) {
            return std::nullopt;
        }
        return checked(std::stoi(m[3]), month, std::stoi(m[2]));
    }
    return std::nullopt;
}

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
