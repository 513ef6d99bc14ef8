#include "DateReader.h"

#include "Text.h"

#include <array>
#include <chrono>

namespace tavik::common {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

// A left-to-right reader over a date text; every read either consumes what it matched or
// leaves the position where it was.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }
    std::size_t position() const { return pos_; }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    bool skipBlanks() {
        const std::size_t start = pos_;
        while (!atEnd() && isSpaceOrTab(text_[pos_]))
            ++pos_;
        return pos_ > start;
    }

    bool accept(char c) {
        if (peek() != c)
            return false;
        ++pos_;
        return true;
    }

    // An unsigned number of minDigits to maxDigits digits, not followed by a further digit.
    std::optional<int> number(std::size_t minDigits, std::size_t maxDigits) {
        std::size_t end = pos_;
        while (end < text_.size() && isDigit(text_[end]))
            ++end;
        const std::size_t length = end - pos_;
        if (length < minDigits || length > maxDigits)
            return std::nullopt;
        int value = 0;
        for (; pos_ < end; ++pos_)
            value = value * 10 + (text_[pos_] - '0');
        return value;
    }

    std::string_view word() {
        const std::size_t start = pos_;
        while (!atEnd() && ((peek() >= 'a' && peek() <= 'z') || (peek() >= 'A' && peek() <= 'Z')))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// The month of an English month name, full or abbreviated to three letters.
std::optional<unsigned> monthOfName(std::string_view name) {
    for (std::size_t i = 0; i < monthNames.size(); ++i)
        if (equalsIgnoreCase(name, monthNames[i]) ||
            equalsIgnoreCase(name, monthNames[i].substr(0, 3)))
            return unsigned(i + 1);
    return std::nullopt;
}

struct YearMonthDay {
    int year = 0;
    unsigned month = 0, day = 0;
};

// A year of three or four digits, or of two read with the usual window: 00-29 are the
// 2000s, 30-99 the 1900s ("3/23/09" is March 23, 2009).
std::optional<int> readYear(Scanner& in) {
    const std::size_t start = in.position();
    const auto year = in.number(2, 4);
    if (!year || in.position() - start > 2)
        return year;
    return *year + (*year < 30 ? 2000 : 1900);
}

// M/d/yyyy, yyyy-MM-dd or "MMM d, yyyy" (also with the full month name).
std::optional<YearMonthDay> readDatePart(Scanner& in) {
    YearMonthDay date;
    if (isDigit(in.peek())) {
        const std::size_t start = in.position();
        const auto first = in.number(1, 4);
        if (!first)
            return std::nullopt;
        const std::size_t firstDigits = in.position() - start;
        if (in.accept('/')) {
            const auto day = in.number(1, 2);
            if (!day || !in.accept('/'))
                return std::nullopt;
            const auto year = readYear(in);
            if (firstDigits > 2 || !year)
                return std::nullopt;
            date = {*year, unsigned(*first), unsigned(*day)};
        } else if (in.accept('-')) {
            const auto month = in.number(1, 2);
            if (!month || !in.accept('-'))
                return std::nullopt;
            const auto day = in.number(1, 2);
            if (firstDigits < 3 || !day)
                return std::nullopt;
            date = {*first, unsigned(*month), unsigned(*day)};
        } else {
            return std::nullopt;
        }
    } else {
        const auto month = monthOfName(in.word());
        if (!month || !in.skipBlanks())
            return std::nullopt;
        const auto day = in.number(1, 2);
        if (!day || !in.accept(','))
            return std::nullopt;
        in.skipBlanks();
        const auto year = readYear(in);
        if (!year)
            return std::nullopt;
        date = {*year, *month, unsigned(*day)};
    }
    return date;
}

// h:mm[:ss] AM/PM or H:mm[:ss], as seconds after midnight.
std::optional<int> readTimePart(Scanner& in) {
    const auto hour = in.number(1, 2);
    if (!hour || !in.accept(':'))
        return std::nullopt;
    const auto minute = in.number(2, 2);
    if (!minute || *minute > 59)
        return std::nullopt;
    int second = 0;
    if (in.accept(':')) {
        const auto s = in.number(2, 2);
        if (!s || *s > 59)
            return std::nullopt;
        second = *s;
    }
    in.skipBlanks();
    int h = *hour;
    const std::string_view marker = in.word();
    if (marker.empty()) {
        if (h > 23)
            return std::nullopt;
    } else {
        const bool am = equalsIgnoreCase(marker, "AM");
        if (!(am || equalsIgnoreCase(marker, "PM")) || h < 1 || h > 12)
            return std::nullopt;
        h = h % 12 + (am ? 0 : 12);
    }
    return h * 3600 + *minute * 60 + second;
}

} // namespace

std::optional<DateReading> readDateText(std::string_view text) {
    Scanner in(trimBlanks(text));
    const auto date = readDatePart(in);
    if (!date)
        return std::nullopt;
    int time = 0;
    if (in.skipBlanks()) {
        const auto t = readTimePart(in);
        if (!t)
            return std::nullopt;
        time = *t;
    }
    if (!in.atEnd())
        return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(date->year),
                                          std::chrono::month(date->month),
                                          std::chrono::day(date->day)};
    if (date->year < minYear || date->year > maxYear || !ymd.ok())
        return std::nullopt;
    return DateReading{date->year, date->month, date->day, time};
}

} // namespace tavik::common
