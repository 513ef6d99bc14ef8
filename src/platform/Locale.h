#pragma once

#include <chrono>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

// Locale services with US English regional settings: date texts, numbers, conversions.
// Conversions that cannot be made throw platform::RuntimeError.
namespace tavik::platform {

struct DateTime {
    std::chrono::sys_days date{};
    std::chrono::seconds timeOfDay{}; // 0 to 86399
    auto operator<=>(const DateTime&) const = default;
};

DateTime makeDate(int year, unsigned month, unsigned day);

// Reads a date with an optional time of day: M/d/yyyy, yyyy-MM-dd, "MMM d, yyyy",
// "MMM dd, yyyy", "MMMM d, yyyy", each optionally followed by h:mm[:ss] [AM|PM] or
// H:mm[:ss]; a two-digit year takes the century by the window 00-29 → 2000s, 30-99 →
// 1900s. Blanks around the text are allowed. Throws when the text is not a date.
DateTime CDate(std::string_view text);
bool IsDate(std::string_view text);

// The general date text: short date M/d/yyyy, then " h:mm:ss AM/PM" unless the time is
// midnight. CDate reads it back to the same value.
std::string generalDate(const DateTime& value);
// The short date text M/d/yyyy: what a date becomes when converted to text.
std::string shortDate(const DateTime& value);
// "MMM dd, yyyy": abbreviated month name, two-digit day, four-digit year ("Mar 05, 2009").
std::string formatMMMddyyyy(const DateTime& value);
std::string isoDate(const DateTime& value); // yyyy-mm-dd

// Whole calendar days from `from` to `to`, the time of day ignored.
long dateDiffDays(const DateTime& from, const DateTime& to);

// The numeric value of the text's leading number: full stop as the decimal point, blanks,
// tabs and line feeds inside ignored, &H and &O prefixes honoured; reading stops at the first
// character that cannot continue the number; no number gives 0.
double Val(std::string_view text);

// Rounds to the nearest integer, halves to the even neighbour.
double roundHalfEven(double value);
// Rounded to a 32-bit signed integer, halves to even; throws on overflow.
std::int32_t CLng(double value);
// Rounded to a 16-bit signed integer, halves to even; throws on overflow.
std::int16_t CInt(double value);
// The text as a number (blanks around it allowed), rounded to a 16-bit signed integer,
// halves to even; throws when the text is empty, not a number, or out of range.
std::int16_t CInt(std::string_view text);

} // namespace tavik::platform
