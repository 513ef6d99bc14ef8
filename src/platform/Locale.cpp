#include "Locale.h"

#include "../common/Text.h"
#include "RuntimeError.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace tavik::platform {

using namespace std::chrono;

namespace {

constexpr std::array<std::string_view, 12> monthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

constexpr int minYear = 100;
constexpr int maxYear = 9999;

[[noreturn]] void typeMismatch() {
    throw RuntimeError("Type mismatch");
}
[[noreturn]] void overflow() {
    throw RuntimeError("Overflow");
}

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
        if (common::equalsIgnoreCase(name, monthNames[i]) ||
            common::equalsIgnoreCase(name, monthNames[i].substr(0, 3)))
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
std::optional<seconds> readTimePart(Scanner& in) {
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
        const bool am = common::equalsIgnoreCase(marker, "AM");
        if (!(am || common::equalsIgnoreCase(marker, "PM")) || h < 1 || h > 12)
            return std::nullopt;
        h = h % 12 + (am ? 0 : 12);
    }
    return hours(h) + minutes(*minute) + seconds(second);
}

year_month_day calendarDate(const DateTime& value) {
    return year_month_day(value.date + days(value.timeOfDay.count() / 86400));
}

seconds timeOnly(const DateTime& value) {
    return seconds(value.timeOfDay.count() % 86400);
}

std::string formatted(const char* format, auto... args) {
    std::array<char, 64> buffer{};
    const int length = std::snprintf(buffer.data(), buffer.size(), format, args...);
    return std::string(buffer.data(), std::size_t(std::max(length, 0)));
}

int yearOf(const year_month_day& ymd) {
    return int(ymd.year());
}
unsigned monthOf(const year_month_day& ymd) {
    return unsigned(ymd.month());
}
unsigned dayOf(const year_month_day& ymd) {
    return unsigned(ymd.day());
}

// The longest leading part of `digits` in the given base, as an unsigned value; stops
// counting once the value no longer fits 32 bits.
std::optional<std::uint64_t> radixValue(std::string_view& digits, int base) {
    std::uint64_t value = 0;
    std::size_t used = 0;
    for (; used < digits.size(); ++used) {
        const char c = common::asciiLower(digits[used]);
        int digit = -1;
        if (isDigit(c))
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0 || digit >= base)
            break;
        value = value * std::uint64_t(base) + std::uint64_t(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    digits.remove_prefix(used);
    return value;
}

// &H and &O constants are 16-bit when they fit 16 bits and 32-bit otherwise, both signed:
// &HFFFF is -1, &H10000 is 65536, &HFFFFFFFF is -1.
std::int32_t signedRadixValue(std::uint64_t value) {
    if (value <= 0xFFFF)
        return std::int16_t(std::uint16_t(value));
    return std::int32_t(std::uint32_t(value));
}

// The text after "&" when it is a hexadecimal or octal prefix, with its base.
std::optional<int> radixPrefix(std::string_view& text) {
    if (text.size() < 2 || text[0] != '&')
        return std::nullopt;
    const char kind = common::asciiLower(text[1]);
    if (kind != 'h' && kind != 'o')
        return std::nullopt;
    text.remove_prefix(2);
    return kind == 'h' ? 16 : 8;
}

// The end of the leading decimal number of `text` (sign, digits, point, digits, exponent),
// or 0 when it holds no digit of a mantissa.
std::size_t decimalNumberLength(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissaDigits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++mantissaDigits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        return 0;
    if (i < text.size() &&
        (common::asciiLower(text[i]) == 'e' || common::asciiLower(text[i]) == 'd')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

// The value of a decimal number as decimalNumberLength delimits it ("d" exponents included).
double decimalValue(std::string number) {
    for (char& c : number)
        if (c == 'd' || c == 'D')
            c = 'e';
    if (!number.empty() && number.front() == '+')
        number.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Underflow reads as 0; only a magnitude too large for a double is an overflow.
        const auto exponent = number.find_first_of("eE");
        if (exponent != std::string::npos && number[exponent + 1] == '-')
            return 0;
        overflow();
    }
    if (error != std::errc() || end != number.data() + number.size())
        typeMismatch();
    return value;
}

template <typename Integer> Integer roundToInteger(double value) {
    const double rounded = roundHalfEven(value);
    if (!(rounded >= double(std::numeric_limits<Integer>::min()) &&
          rounded <= double(std::numeric_limits<Integer>::max())))
        overflow();
    return Integer(rounded);
}

} // namespace

DateTime makeDate(int year, unsigned month, unsigned day) {
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(month),
                             std::chrono::day(day)};
    if (year < minYear || year > maxYear || !ymd.ok())
        typeMismatch();
    return {sys_days(ymd), seconds(0)};
}

DateTime CDate(std::string_view text) {
    Scanner in(common::trimBlanks(text));
    const auto date = readDatePart(in);
    if (!date)
        typeMismatch();
    seconds time(0);
    if (in.skipBlanks()) {
        const auto t = readTimePart(in);
        if (!t)
            typeMismatch();
        time = *t;
    }
    if (!in.atEnd())
        typeMismatch();
    DateTime value = makeDate(date->year, date->month, date->day);
    value.timeOfDay = time;
    return value;
}

bool IsDate(std::string_view text) {
    try {
        CDate(text);
        return true;
    } catch (const RuntimeError&) {
        return false;
    }
}

std::string generalDate(const DateTime& value) {
    std::string text = shortDate(value);
    const long long time = timeOnly(value).count();
    if (time != 0) {
        const long long hour = time / 3600;
        const long long hour12 = hour % 12 == 0 ? 12 : hour % 12;
        text += formatted(" %lld:%02lld:%02lld %s", hour12, time / 60 % 60, time % 60,
                          hour < 12 ? "AM" : "PM");
    }
    return text;
}

std::string shortDate(const DateTime& value) {
    const auto ymd = calendarDate(value);
    return formatted("%u/%u/%d", monthOf(ymd), dayOf(ymd), yearOf(ymd));
}

std::string formatMMMddyyyy(const DateTime& value) {
    const auto ymd = calendarDate(value);
    const std::string month(monthNames[monthOf(ymd) - 1].substr(0, 3));
    return formatted("%s %02u, %04d", month.c_str(), dayOf(ymd), yearOf(ymd));
}

std::string isoDate(const DateTime& value) {
    const auto ymd = calendarDate(value);
    return formatted("%04d-%02u-%02u", yearOf(ymd), monthOf(ymd), dayOf(ymd));
}

long dateDiffDays(const DateTime& from, const DateTime& to) {
    const auto dayOfValue = [](const DateTime& v) {
        return v.date + days(v.timeOfDay.count() / 86400);
    };
    return long((dayOfValue(to) - dayOfValue(from)).count());
}

double Val(std::string_view text) {
    // Blanks, tabs and line feeds count for nothing anywhere in the text.
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            compact += c;

    std::string_view rest = compact;
    if (const auto base = radixPrefix(rest)) {
        const auto value = radixValue(rest, *base);
        if (!value)
            overflow();
        return signedRadixValue(*value);
    }
    const std::size_t length = decimalNumberLength(rest);
    return length == 0 ? 0.0 : decimalValue(std::string(rest.substr(0, length)));
}

double roundHalfEven(double value) {
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::int32_t CLng(double value) {
    return roundToInteger<std::int32_t>(value);
}

std::int16_t CInt(double value) {
    return roundToInteger<std::int16_t>(value);
}

std::int16_t CInt(std::string_view text) {
    std::string_view number = common::trimBlanks(text);
    if (const auto base = radixPrefix(number)) {
        const std::size_t digits = number.size();
        const auto value = radixValue(number, *base);
        if (!value)
            overflow();
        if (number.size() == digits || !number.empty())
            typeMismatch();
        return CInt(double(signedRadixValue(*value)));
    }
    const std::size_t length = decimalNumberLength(number);
    if (length == 0 || length != number.size())
        typeMismatch();
    return CInt(decimalValue(std::string(number)));
}

} // namespace tavik::platform
