#include "common/CodePage.h"

#include <gtest/gtest.h>

using namespace tavik::common;

TEST(CodePage, Windows1252BytesBothWays) {
    const struct {
        const char* utf8;
        const char* ansi;
    } cases[] = {
        {"\u20AC", "\x80"}, {"\u00E9", "\xE9"}, {"\u201C", "\x93"},
        {"\u0178", "\x9F"}, {"\u00A0", "\xA0"}, {"\u00FF", "\xFF"},
        {"\u0081", "\x81"}, {"\u009D", "\x9D"}, {"a b~", "a b~"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ansi);
        EXPECT_EQ(toAnsi(c.utf8), c.ansi);
        EXPECT_EQ(fromAnsi(c.ansi), c.utf8);
    }
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const std::string utf8 = fromAnsi(all);
    EXPECT_TRUE(isValidUtf8(utf8));
    EXPECT_EQ(toAnsi(utf8), all);
}

TEST(CodePage, WhatTheCodePageLacksBecomesAQuestionMark) {
    EXPECT_EQ(toAnsi("x\u4E2Dy"), "x?y"); // CJK ideograph
    EXPECT_EQ(toAnsi("\U0001F600"), "?"); // outside the basic plane: one character
    EXPECT_EQ(toAnsi("\u0080"), "?");     // a C1 control the code page reassigns
    EXPECT_EQ(toAnsi("a\xFF"
                     "b"),
              "a?b");                         // a byte that is not UTF-8
    EXPECT_EQ(toAnsi("\xE4\xB8"), "?");       // a character cut short
    EXPECT_EQ(toAnsi("\xC0\xAF"), "??");      // an overlong "/"
    EXPECT_EQ(toAnsi("\xED\xA0\x80"), "???"); // a surrogate
}

TEST(CodePage, Utf8ValidityIsStrict) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain \u00E9\u20AC\u4E2D\U0010FFFF"));
    const char* const invalid[] = {"\x80",
                                   "\xC3",
                                   "\xC0\x80",
                                   "\xE0\x80\xAF",
                                   "\xED\xBF\xBF",
                                   "\xF4\x90\x80\x80",
                                   "\xF5\x80\x80\x80",
                                   "\xE9t\xE9"};
    for (const char* bytes : invalid) {
        SCOPED_TRACE(bytes);
        EXPECT_FALSE(isValidUtf8(bytes));
    }
}
