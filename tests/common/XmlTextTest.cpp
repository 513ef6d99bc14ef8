#include "common/XmlText.h"

#include <gtest/gtest.h>

using namespace tavik::common;

// Every byte, at every place within and across the eight-byte steps the escaping skips
// plain text in, is escaped as a lone byte is.
TEST(XmlText, EveryByteEscapedWhereverItStands) {
    const auto lone = [](unsigned char b) -> std::string {
        switch (b) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '\r':
            return "&#13;";
        default:
            return b < 0x20 && b != '\t' && b != '\n' ? "?" : std::string(1, char(b));
        }
    };
    for (int b = 0; b < 256; ++b) {
        for (std::size_t at = 0; at < 19; ++at) {
            const std::string before(at, 'a'), after(18 - at, 'z');
            std::string out = "x";
            appendXmlText(out, before + char(b) + after);
            ASSERT_EQ(out, "x" + before + lone(static_cast<unsigned char>(b)) + after)
                << "byte " << b << " at " << at;
        }
    }
    std::string out;
    appendXmlText(out, "a&&b<\r\n>\x01\t\xC3\xA9");
    EXPECT_EQ(out, "a&amp;&amp;b&lt;&#13;\n&gt;?\t\xC3\xA9");
}
