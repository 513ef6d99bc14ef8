// The three statements, byte for byte, and the form encoding that carries them.

#include "editor/Statements.h"
#include "gateway/URLEncode.h"

#include <gtest/gtest.h>

using namespace tavik;

TEST(Statements, WorkedExampleByteForByte) {
    EXPECT_EQ(InsertStatement("318", 4, 12, "4/1/2009", "", "Don't ship"),
              " Declare @MaxID  int ;  select @MaxId = (Select Max(CommentSequence) From "
              "VendorComment where VendorID = '318');  Set @MaxId = ISNull(@MaxID,0);  INSERT "
              "INTO VendorComment (VendorID,CommentSequence,Type,Location,Effective,Expires,"
              "Comment,RecordLastUpdated) VALUES  (318, @MaxID + 1, 4, 12,  '4/1/2009' ,  Null, "
              "'Don`t ship',  GETDATE())");
    EXPECT_EQ(UpdateStatement("318", 4, 12, "4/1/2009", "", "Don't ship", "7"),
              "UPDATE VendorComment  SET Type = 4, Location= 12, Effective=  '4/1/2009' , "
              "Expires=  Null, Comment= 'Don`t ship', RecordLastUpdated = GETDATE()  WHERE "
              "vendorID = 318 AND CommentSequence = 7");
    EXPECT_EQ(DeleteStatement("318", "7"),
              "DELETE FROM VendorComment Where vendorID = 318 And CommentSequence = 7");
}

TEST(Statements, ValuesAsTheStatementCarriesThem) {
    // Both dates absent, negative codes, several apostrophes, back-quotes and line breaks.
    const std::string insert =
        InsertStatement("V100", -3, -2147483647 - 1, "", "", "'a' `b`\r\nc''");
    EXPECT_NE(insert.find(" (V100, @MaxID + 1, -3, -2147483648, Null,  Null, '`a` `b`\r\nc``',  "
                          "GETDATE())"),
              std::string::npos)
        << insert;
    EXPECT_NE(insert.find("where VendorID = 'V100');"), std::string::npos);

    const std::string update = UpdateStatement("V100", 1, 2, "", "12/31/2009", "'", "9");
    EXPECT_NE(update.find("Effective= Null, Expires=   '12/31/2009' , Comment= '`'"),
              std::string::npos)
        << update;
    EXPECT_TRUE(update.ends_with("GETDATE()  WHERE vendorID = V100 AND CommentSequence = 9"));
}

struct EncodeCase {
    const char* name;
    std::string text;
    std::string encoded;
};

class URLEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(URLEncodeTest, EncodesCodePageBytes) {
    EXPECT_EQ(URLEncode(GetParam().text), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, URLEncodeTest,
    ::testing::Values(EncodeCase{"empty", "", ""}, EncodeCase{"spaces", "a b  c", "a+b++c"},
                      EncodeCase{"kept", "AZaz09*-._", "AZaz09*-._"},
                      EncodeCase{"plusAndPercent", "+%", "%2B%25"},
                      EncodeCase{"punctuation", "'=&,;()~", "%27%3D%26%2C%3B%28%29%7E"},
                      EncodeCase{"controls", std::string("\r\n\t\0", 4), "%0D%0A%09%00"},
                      EncodeCase{"windows1252", "\xC3\xA9\xE2\x82\xAC", "%E9%80"}, // é €
                      EncodeCase{"missingFromCodePage", "\xE4\xB8\xAD", "%3F"}, // a CJK ideograph
                      EncodeCase{"statement", "x = 'y'", "x+%3D+%27y%27"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(URLEncode, EveryByteOutsideTheKeptSetIsThreeCharacters) {
    for (int code = 1; code < 128; ++code) {
        const std::string text(1, char(code));
        const std::string encoded = URLEncode(text);
        const bool kept = std::isalnum(code) ||
                          std::string_view("*-._").find(char(code)) != std::string_view::npos;
        if (code == ' ')
            EXPECT_EQ(encoded, "+");
        else if (kept)
            EXPECT_EQ(encoded, text);
        else
            EXPECT_EQ(encoded.size(), 3u) << code;
    }
}
