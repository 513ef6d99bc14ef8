#include "platform/Locale.h"
#include "platform/RuntimeError.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tavik::platform;
using namespace std::chrono;

namespace {

DateTime at(int year, unsigned month, unsigned day, int h = 0, int m = 0, int s = 0) {
    DateTime value = makeDate(year, month, day);
    value.timeOfDay = hours(h) + minutes(m) + seconds(s);
    return value;
}

} // namespace

TEST(CDate, ReadsEveryAcceptedForm) {
    const struct {
        const char* text;
        DateTime expected;
    } cases[] = {
        {"3/23/2009", at(2009, 3, 23)},
        {"03/05/2009", at(2009, 3, 5)},
        {"  3/5/2009\t", at(2009, 3, 5)},
        {"2009-03-05", at(2009, 3, 5)},
        {"Mar 5, 2009", at(2009, 3, 5)},
        {"mar 05, 2009", at(2009, 3, 5)},
        {"MARCH 5, 2009", at(2009, 3, 5)},
        {"September 30, 2009", at(2009, 9, 30)},
        {"2/29/2008", at(2008, 2, 29)},
        {"12/31/9999", at(9999, 12, 31)},
        {"1/1/100", at(100, 1, 1)},
        // Two-digit years by the window: 00-29 the 2000s, 30-99 the 1900s.
        {"3/23/09", at(2009, 3, 23)},
        {"1/1/29", at(2029, 1, 1)},
        {"1/1/30", at(1930, 1, 1)},
        {"12/31/99 11:59 PM", at(1999, 12, 31, 23, 59)},
        {"Mar 5, 00", at(2000, 3, 5)},
        {"3/23/2009 1:05:09 PM", at(2009, 3, 23, 13, 5, 9)},
        {"3/23/2009 1:05 pm", at(2009, 3, 23, 13, 5)},
        {"3/23/2009 12:00:00 AM", at(2009, 3, 23)},
        {"3/23/2009 12:30 PM", at(2009, 3, 23, 12, 30)},
        {"3/23/2009 13:05", at(2009, 3, 23, 13, 5)},
        {"2009-03-23 0:00:01", at(2009, 3, 23, 0, 0, 1)},
        {"Mar 23, 2009 11:59:59PM", at(2009, 3, 23, 23, 59, 59)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CDate(c.text), c.expected);
        EXPECT_TRUE(IsDate(c.text));
    }
}

TEST(CDate, RefusesWhatIsNotADate) {
    const char* const cases[] = {
        "",
        "   ",
        "abc",
        "3/23/9",
        "2/30/2009",
        "2/29/2009",
        "13/1/2009",
        "0/1/2009",
        "1/0/2009",
        "2/29/01",
        "1/1/10000",
        "2009-3",
        "2009/03/05",
        "Mar 5 2009",
        "Mars 5, 2009",
        "3/23/2009 x",
        "3/23/2009 25:00",
        "3/23/2009 13:00 PM",
        "3/23/2009 0:30 AM",
        "3/23/2009 1:60",
        "3/23/2009 1:5",
        "3/23/2009 1:05 XM",
        "3/23/2009,",
        "+3/23/2009",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_THROW(CDate(text), RuntimeError);
        EXPECT_FALSE(IsDate(text));
    }
}

TEST(DateTexts, GeneralDateReadsBackToTheSameValue) {
    const struct {
        DateTime value;
        const char* text;
    } cases[] = {
        {at(2009, 3, 23), "3/23/2009"},
        {at(2009, 3, 23, 13, 5, 9), "3/23/2009 1:05:09 PM"},
        {at(2009, 3, 23, 0, 0, 1), "3/23/2009 12:00:01 AM"},
        {at(2009, 3, 23, 12, 0, 0), "3/23/2009 12:00:00 PM"},
        {at(2009, 12, 5, 23, 59, 59), "12/5/2009 11:59:59 PM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(generalDate(c.value), c.text);
        EXPECT_EQ(CDate(generalDate(c.value)), c.value);
        EXPECT_EQ(generalDate(CDate(generalDate(c.value))), c.text);
    }
}

TEST(DateTexts, FixedFormats) {
    const DateTime value = at(2009, 3, 5, 14, 0);
    EXPECT_EQ(formatMMMddyyyy(value), "Mar 05, 2009");
    EXPECT_EQ(shortDate(value), "3/5/2009");
    EXPECT_EQ(isoDate(value), "2009-03-05");
    EXPECT_EQ(isoDate(at(100, 1, 2)), "0100-01-02");
    EXPECT_EQ(CDate(formatMMMddyyyy(at(2009, 12, 31))), at(2009, 12, 31));
}

TEST(DateTexts, DayDifferenceIgnoresTheTime) {
    EXPECT_EQ(dateDiffDays(at(2009, 3, 5, 23, 59), at(2009, 3, 6, 0, 1)), 1);
    EXPECT_EQ(dateDiffDays(at(2009, 3, 6), at(2009, 3, 5, 12)), -1);
    EXPECT_EQ(dateDiffDays(at(2008, 2, 28), at(2008, 3, 1)), 2);
    EXPECT_EQ(dateDiffDays(at(2009, 1, 1), at(2009, 1, 1, 23)), 0);
}

TEST(Val, ReadsTheLeadingNumber) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {" 1 2 ", 12},
        {"3.5", 3.5},
        {"&H1F", 31},
        {"&h1f", 31},
        {"&O17", 15},
        {"-2.5", -2.5},
        {"1e3", 1000},
        {"1.5.3", 1.5},
        {"", 0},
        {"&HFFFF", -1},
        {"&H8000", -32768},
        {"&H10000", 65536},
        {"&HFFFFFFFF", -1},
        {"&O177777", -1},
        {"\t4\n2", 42},
        {"1e", 1},
        {"1e+2x", 100},
        {".5", 0.5},
        {"-", 0},
        {"&H", 0},
        {"1\r2", 1},
        {"+7", 7},
        {"2D2", 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Val(c.text), c.expected);
    }
    EXPECT_THROW(Val("&H123456789"), RuntimeError);
    EXPECT_THROW(Val("1e999"), RuntimeError);
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    const struct {
        double value, expected;
    } cases[] = {{0.5, 0},   {1.5, 2},   {2.5, 2},    {3.5, 4},    {-0.5, 0},
                 {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {-7, -7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(roundHalfEven(c.value), c.expected);
        EXPECT_EQ(CLng(c.value), std::int32_t(c.expected));
        EXPECT_EQ(CInt(c.value), std::int16_t(c.expected));
    }
}

TEST(Rounding, OverflowThrows) {
    EXPECT_EQ(CLng(2147483647.4), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(CLng(-2147483648.5), std::numeric_limits<std::int32_t>::min());
    EXPECT_THROW(CLng(2147483647.5), RuntimeError);
    EXPECT_THROW(CLng(-2147483649.0), RuntimeError);
    EXPECT_THROW(CLng(std::numeric_limits<double>::quiet_NaN()), RuntimeError);
    EXPECT_EQ(CInt(32767.4), 32767);
    EXPECT_EQ(CInt(-32768.5), -32768);
    EXPECT_THROW(CInt(32767.5), RuntimeError);
    EXPECT_THROW(CInt(-32769.0), RuntimeError);
}

TEST(CIntText, ReadsNumericTextOnly) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"1", 1},         {"1.5", 2},         {"2.5", 2},     {"0.5", 0},    {"  3 ", 3},
                 {"-2", -2},       {"+4", 4},          {"1e2", 100},   {".5", 0},     {"7.", 7},
                 {"32767", 32767}, {"-32768", -32768}, {"&HFFFF", -1}, {" &O10 ", 8}, {"\t2\t", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CInt(std::string_view(c.text)), c.expected);
    }
    const char* const refused[] = {"",    "  ", "abc", "12abc",   "32768", "-32769", "1 2",
                                   "1e9", "&H", "&HZ", "&H10000", ".",     "-",      "1,000"};
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_THROW(CInt(std::string_view(text)), RuntimeError);
    }
}
