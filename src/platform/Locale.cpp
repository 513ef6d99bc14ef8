#include "Locale.h"

#include "../common/DateReader.h"
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

[[noreturn]] void typeMismatch() {
    throw RuntimeError("Type mismatch");
}
[[noreturn]] void overflow() {
    throw RuntimeError("Overflow");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
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
    if (year < common::minYear || year > common::maxYear || !ymd.ok())
        typeMismatch();
    return {sys_days(ymd), seconds(0)};
}

DateTime CDate(std::string_view text) {
    const auto reading = common::readDateText(text);
    if (!reading)
        typeMismatch();
    DateTime value = makeDate(reading->year, reading->month, reading->day);
    value.timeOfDay = seconds(reading->secondsOfDay);
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
    const std::string month(common::monthNames[monthOf(ymd) - 1].substr(0, 3));
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
