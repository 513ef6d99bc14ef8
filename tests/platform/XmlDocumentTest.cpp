#include "platform/XmlDocument.h"
#include "LoopbackSockets.h"
#include "TestServer.h"
#include "platform/RuntimeError.h"
#include "platform/TestHooks.h"

#include <gtest/gtest.h>

using namespace tavik::platform;
using namespace std::chrono_literals;

namespace {

const char* const compactDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VendorComments>"
    "<LOC><Code>1</Code><Name>Dock</Name></LOC>"
    "<!-- types follow --><TYP><Code>2</Code><Name>Credit &amp; terms</Name></TYP>"
    "<?audit on?><GRID><A>V1</A><B>7</B><C><![CDATA[a<b]]></C></GRID>"
    "</VendorComments>";

const char* const indentedDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<VendorComments>
    <LOC>
        <Code>1</Code>
        <Name>Dock</Name>
    </LOC>
    <!-- types follow -->
    <TYP>
        <Code>2</Code>
        <Name>Credit &amp; terms</Name>
    </TYP>
    <?audit on?>
    <GRID>
        <A>V1</A>
        <B>7</B>
        <C><![CDATA[a<b]]></C>
    </GRID>
</VendorComments>
)";

// The tree as the control sees it: names and texts by position, nested.
std::string outline(const XmlNode& node) {
    std::string text = node.nodeName() + "=" + node.text();
    const auto children = node.childNodes();
    if (!children.empty()) {
        text += "(";
        for (const XmlNode& child : children)
            text += outline(child) + ";";
        text += ")";
    }
    return text;
}

// Shortens the fetch's time limits for one test.
struct ShortTimeLimits {
    ShortTimeLimits() { setXmlTimeLimitsForTesting(300ms, 300ms); }
    ~ShortTimeLimits() { setXmlTimeLimitsForTesting(xmlConnectLimit, xmlTransferLimit); }
};

} // namespace

TEST(XmlDocument, LoadsADocumentOverHttp) {
    TestServer server;
    server.http.Get("/doc.xml", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(compactDocument, "text/xml");
    });
    server.http.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/doc.xml");
    });
    server.start();

    for (const char* path : {"doc.xml", "moved"}) {
        SCOPED_TRACE(path);
        XmlDocument doc;
        ASSERT_TRUE(doc.load(server.baseUrl() + path));
        const XmlNode root = doc.documentElement();
        EXPECT_EQ(root.nodeName(), "VendorComments");
        const auto children = root.childNodes();
        ASSERT_EQ(children.size(), 5u);
        EXPECT_EQ(children[0].nodeName(), "LOC");
        EXPECT_EQ(children[1].nodeName(), "#comment");
        EXPECT_EQ(children[2].item(1).text(), "Credit & terms");
        EXPECT_EQ(children[3].nodeName(), "audit");
        EXPECT_EQ(children[4].item(2).item(0).nodeName(), "#cdata-section");
        EXPECT_EQ(children[4].text(), "V17a<b");
    }
}

TEST(XmlDocument, IndentedDocumentReadsLikeTheCompactOne) {
    XmlDocument compact, indented;
    ASSERT_TRUE(compact.loadXml(compactDocument));
    ASSERT_TRUE(indented.loadXml(indentedDocument));
    EXPECT_EQ(outline(indented.documentElement()), outline(compact.documentElement()));
}

TEST(XmlDocument, TextGathersAllDescendantsInOrder) {
    XmlDocument doc;
    ASSERT_TRUE(doc.loadXml("<r><a>x<b>y<![CDATA[z]]></b><!--no-->w<?pi no?></a><e/></r>"));
    const XmlNode a = doc.documentElement().item(0);
    EXPECT_EQ(a.text(), "xyzw");
    EXPECT_EQ(a.item(0).nodeName(), "#text");
    EXPECT_EQ(a.item(0).text(), "x");
    EXPECT_EQ(a.item(2).text(), "no");
    EXPECT_EQ(doc.documentElement().item(1).text(), "");
    EXPECT_THROW(a.item(5), RuntimeError);
    EXPECT_THROW(a.item(-1), RuntimeError);
}

TEST(XmlDocument, HonoursTheDeclaredEncoding) {
    XmlDocument doc;
    ASSERT_TRUE(
        doc.loadXml("<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>caf\xE9 \x80</r>"));
    EXPECT_EQ(doc.documentElement().text(), "caf\u00E9 \u20AC");
    ASSERT_TRUE(doc.loadXml("<r>caf\xE9</r>")); // not UTF-8 after all: the ANSI code page
    EXPECT_EQ(doc.documentElement().text(), "caf\u00E9");
    ASSERT_TRUE(doc.loadXml("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE9</r>"));
    EXPECT_EQ(doc.documentElement().text(), "\u00E9");
    const char16_t utf16[] = u"\uFEFF<r>\u00E9\u4E2D</r>";
    ASSERT_TRUE(doc.loadXml(std::string(reinterpret_cast<const char*>(utf16), sizeof utf16 - 2)));
    EXPECT_EQ(doc.documentElement().text(), "\u00E9\u4E2D");
    // Another single-byte encoding the system knows, unless the bytes are UTF-8 after all.
    ASSERT_TRUE(doc.loadXml("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><r>\xC3\xA9</r>"));
    EXPECT_EQ(doc.documentElement().text(), "\u00E9");
    ASSERT_TRUE(doc.loadXml("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><r>\xE9\xA4</r>"));
    EXPECT_EQ(doc.documentElement().text(), "\u00E9\u20AC");
    ASSERT_TRUE(doc.loadXml("<?xml version=\"1.0\" encoding=\"latin1\"?><r>\xE9\xA4</r>"));
    EXPECT_EQ(doc.documentElement().text(), "\u00E9\u00A4");
    // One whose characters take several bytes is not read.
    EXPECT_FALSE(doc.loadXml("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>\x82\xA0</r>"));
}

TEST(XmlDocument, WhatIsNotOneWellFormedDocumentLeavesItEmpty) {
    const char* const cases[] = {
        "", "hello", "<a><b>x</b>", "<a/><b/>", "text <a/>", "<a/>junk", "<!-- only a comment -->",
        // What pugixml alone would let through.
        "<a>&nbsp;</a>", "<a>x & y</a>", "<a>&amp</a>", "<a>&#0;</a>", "<a>&#xD800;</a>",
        "<a b='1' b='2'/>", "<a b='<'/>", "<a b=\"&x;\"/>", "<a><b></a></b>", "<a>]]></a>",
        "<a><!-- x -- y --></a>", "<a>\x01</a>",
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>caf\xE9 & bar</a>",
        // What a part parsed on its own would let through.
        "<a><b/><!DOCTYPE b></a>", "<a><b/><c></a>", "<a><b/></c></a>", "<a><b/></a><a><b/></a>",
        "<a><b/></a>text", "<a><b/><1/></a>",
        // The declaration only at the very start, and only in its own form.
        "\n<?xml version=\"1.0\"?><a/>", " <?xml version=\"1.0\"?><a/>",
        "<!-- c --><?xml version=\"1.0\"?><a/>", "<a><?xml version=\"1.0\"?></a>", "<a/><?XmL x?>",
        "<?XML version=\"1.0\"?><a/>", "<?xml?><a/>", "<?xml encoding=\"UTF-8\"?><a/>",
        "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"UTF-8\"?><a/>",
        "<?xml version=\"1.0\"encoding=\"UTF-8\"?><a/>", "<?xml version='1.0\"?><a/>",
        "<?xml<b/>version=\"1.0\"?><a/>", "<a><?pi&x?></a>", "<a><?\?></a>", "<a>\xEF\xBF\xBE</a>",
        "<a b='\xEF\xBF\xBF'/>",
        // An encoding no one knows, and bytes the declared one does not have.
        "<?xml version=\"1.0\" encoding=\"UTF-\"?><a/>",
        "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>\xC3\xA9</a>"};
    for (const char* xml : cases) {
        SCOPED_TRACE(xml);
        XmlDocument doc;
        ASSERT_TRUE(doc.loadXml("<ok/>"));
        EXPECT_FALSE(doc.loadXml(xml));
        EXPECT_THROW(doc.documentElement(), RuntimeError);
    }
}

TEST(XmlDocument, WhatXmlAllowsStaysReadable) {
    const struct {
        const char* xml;
        const char* text;
    } cases[] = {
        {"<a b=\"&amp;&#x41;&#66;\" c='x>y'>&lt;&gt;&apos;&quot;&#233;</a>", "<>'\"\u00E9"},
        {"<a><![CDATA[& < ]]]]><![CDATA[>]]></a>", "& < ]]>"},
        {"<a><!-- & < - --><?pi & <?>ok</a>", "ok"},
        {"<!DOCTYPE a [<!ELEMENT a ANY>]><a>]] ></a>", "]] >"},
        {"\xEF\xBB\xBF<?xml version = '1.10' encoding=\"utf-8\" standalone='no' ?>\n<a>x</a>", "x"},
        {"<?xml version=\"1.0\"?><a><?xml-stylesheet href=\"x\"?><?xmlx?>y</a>", "y"},
        {"<!DOCTYPE a [<!ENTITY e \"v<b>w</b>\">]><a>&e;&e;</a>", "vwvw"},
        {"<!DOCTYPE a [<!-- it's -->]><a>x</a>", "x"},
        {"<a>&#x000000000041;&#0000066;</a>", "AB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        XmlDocument doc;
        ASSERT_TRUE(doc.loadXml(c.xml));
        EXPECT_EQ(doc.documentElement().text(), c.text);
    }
}

// The failure says where the parser stopped (columns from 1) and why, in its own words.
TEST(XmlDocument, SaysWhereAndWhyADocumentIsNotWellFormed) {
    const struct {
        std::string xml;
        const char* failure;
    } cases[] = {
        {"<r/>x", "line 1, column 5: junk after document element"},
        {"<r/>\nx", "line 2, column 1: junk after document element"},
        {"<r/><!DOCTYPE r>", "line 1, column 5: junk after document element"},
        {std::string(compactDocument) + ">", "line 1, column 255: junk after document element"},
        {std::string(compactDocument) + '\0',
         "line 1, column 255: not well-formed (invalid token)"},
        {"<r>\n  <a>\n    <b>x</a>\n</r>", "line 3, column 11: mismatched tag"},
        {"", "line 1, column 1: no element found"},
        {"<?xml version=\"1.0\" encoding=\"bogus\"?><a/>", "line 1, column 31: unknown encoding"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        XmlDocument doc;
        EXPECT_FALSE(doc.loadXml(c.xml));
        EXPECT_EQ(doc.failure(), std::string("not well-formed XML at ") + c.failure);
    }
}

// Comments and the DTD outside the root belong to no element; a child's position counts
// every node before it, whichever child was reached last.
TEST(XmlDocument, ChildrenAreReachedByPositionInAnyOrder) {
    const std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY><!-- dtd -->]>"
                            "<!-- before --><r a=\"1\">\n  lead\n  <x>1<y>2</y></x>\n  "
                            "<![CDATA[<c>]]><?pi data?><!-- between --><e/>tail &amp; more"
                            "<z b='x>y'>3</z><w>caf&#233;</w><v/>\r\n</r>\n<!-- after -->";
    XmlDocument doc;
    ASSERT_TRUE(doc.loadXml(xml));
    const XmlNode root = doc.documentElement();
    std::string names;
    for (const XmlNode& child : root.childNodes())
        names += child.nodeName() + " ";
    EXPECT_EQ(names, "#text x #cdata-section pi #comment e #text z w v ");
    const auto children = root.childNodes();
    EXPECT_EQ(root.item(9).nodeName(), "v");
    EXPECT_EQ(children[3].text(), "data");
    EXPECT_EQ(children[1].item(1).text(), "2");
    EXPECT_EQ(children[8].text(), "caf\u00E9");
    EXPECT_THROW(root.item(10), RuntimeError);
    EXPECT_THROW(children[10], RuntimeError);
}

TEST(XmlDocument, FailedFetchesLeaveItEmpty) {
    const ShortTimeLimits limits;
    TestServer server;
    server.http.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<error>not here</error>", "text/xml");
    });
    server.http.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("<error/>", "text/xml");
    });
    server.http.Get("/plain", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("not xml at all", "text/plain");
    });
    server.http.Get("/half", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<VendorComments><LOC><Code>1</Code>", "text/xml");
    });
    server.start();
    const LoopbackSocket refusing(LoopbackSocket::Refusing);
    const LoopbackSocket silent(LoopbackSocket::Silent);

    const std::string urls[] = {server.baseUrl() + "missing", server.baseUrl() + "broken",
                                server.baseUrl() + "plain",   server.baseUrl() + "half",
                                refusing.url("doc.xml"),      silent.url("doc.xml"),
                                "file:///etc/hostname",       "not a url"};
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        XmlDocument doc;
        EXPECT_FALSE(doc.load(url));
        EXPECT_THROW(doc.documentElement(), RuntimeError);
    }
}
