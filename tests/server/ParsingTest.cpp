// The statement reader, the form body decoding and the date texts, without HTTP.

#include "ServerTestSupport.h"
#include "statement/DateText.h"
#include "statement/FormBody.h"
#include "statement/LoadDocumentWriter.h"
#include "statement/Statement.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vcserver;
using namespace vctest;

namespace {

Statement parsed(const std::string& sql) {
    auto result = parseStatement(sql);
    EXPECT_TRUE(result.statement) << result.error << "\n  in: " << sql;
    return result.statement.value_or(DeleteComment{});
}

} // namespace

TEST(StatementReader, ReadsTheWorkedExample) {
    const auto insert = std::get<InsertComment>(parsed(kExampleInsert));
    EXPECT_EQ(insert.vendor, "318");
    EXPECT_EQ(insert.fields.type, 4);
    EXPECT_EQ(insert.fields.location, 12);
    EXPECT_EQ(insert.fields.effective, (CalendarDate{2009, 4, 1}));
    EXPECT_FALSE(insert.fields.expires);
    EXPECT_EQ(insert.fields.comment, "Don`t ship");

    const auto update = std::get<UpdateComment>(parsed(kExampleUpdate));
    EXPECT_EQ(update.vendor, "318");
    EXPECT_EQ(update.sequence, 7);
    EXPECT_EQ(update.fields.comment, "Don`t ship");
    EXPECT_EQ(update.fields.effective, (CalendarDate{2009, 4, 1}));

    const auto remove = std::get<DeleteComment>(parsed(kExampleDelete));
    EXPECT_EQ(remove.vendor, "318");
    EXPECT_EQ(remove.sequence, 7);
}

TEST(StatementReader, AcceptsLayoutAndCaseVariants) {
    struct Case {
        const char* name;
        std::string sql;
        std::string vendor;
        std::string comment;
    };
    const Case cases[] = {
        {"LowerCaseKeywords",
         "declare @maxid int; select @maxid = (select max(commentsequence) from vendorcomment "
         "where vendorid = 'V100'); set @maxid = isnull(@maxid, 0); insert into vendorcomment "
         "(vendorid, commentsequence, type, location, effective, expires, comment, "
         "recordlastupdated) values (V100, @maxid + 1, -3, 0, '2009-04-01', 'Apr 30, 2009', "
         "'x', getdate());",
         "V100", "x"},
        {"LineBreaksAndTabs",
         "UPDATE\tVendorComment\r\n SET Type=4,Location=12,Effective=Null,Expires=Null,\n"
         "Comment='a -- b; /* c */',RecordLastUpdated=GETDATE() WHERE vendorID=A-1.b_2 "
         "AND CommentSequence=12",
         "A-1.b_2", "a -- b; /* c */"},
        {"LineBreakInComment", insertBatch("318", 1, 2, "", "", "one\r\ntwo"), "318", "one\r\ntwo"},
        {"DoubledApostrophe", updateStatement("318", 1, 1, 1, "", "", "it''s"), "318", "it's"},
        {"GeneralDateWithTime", insertBatch("318", 1, 2, "4/1/2009 3:15:00 PM", "", "t"), "318",
         "t"},
        {"EmptyComment", insertBatch("318", 1, 2, "", "", ""), "318", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Statement s = parsed(c.sql);
        std::visit(
            [&](const auto& st) {
                EXPECT_EQ(st.vendor, c.vendor);
                if constexpr (!std::is_same_v<std::decay_t<decltype(st)>, DeleteComment>) {
                    EXPECT_EQ(st.fields.comment, c.comment);
                }
            },
            s);
    }
}

TEST(StatementReader, RefusesEverythingElse) {
    for (const auto& c : refusedStatements()) {
        SCOPED_TRACE(c.name);
        const auto result = parseStatement(c.sql);
        ASSERT_FALSE(result.statement);
        EXPECT_NE(result.error.find(c.because), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << "one line";
    }
}

TEST(FormBody, DecodesWindows1252Escapes) {
    const auto field = sqlFieldOf("SQL=x+%3D+%27%E9%80%27%0D%0A%2B");
    ASSERT_TRUE(field.statement) << field.error;
    EXPECT_EQ(*field.statement, "x = '\xC3\xA9\xE2\x82\xAC'\r\n+");
}

TEST(DateText, ReadsTheAcceptedForms) {
    const std::pair<const char*, std::optional<CalendarDate>> cases[] = {
        {"4/1/2009", CalendarDate{2009, 4, 1}},
        {"12/31/1999", CalendarDate{1999, 12, 31}},
        {"2009-04-01", CalendarDate{2009, 4, 1}},
        {"Mar 05, 2009", CalendarDate{2009, 3, 5}},
        {"September 5, 2009", CalendarDate{2009, 9, 5}},
        {"2/29/2008", CalendarDate{2008, 2, 29}},
        {"4/1/2009 11:05 AM", CalendarDate{2009, 4, 1}},
        {"1/1/1753", CalendarDate{1753, 1, 1}},
        {"12/31/9999", CalendarDate{9999, 12, 31}},
        {"12/31/1752", std::nullopt},
        {"2/29/2009", std::nullopt},
        {"2/29/1900", std::nullopt},
        {"13/1/2009", std::nullopt},
        {"3/23/09", CalendarDate{2009, 3, 23}},
        {"3/23/30 23:59:59", CalendarDate{1930, 3, 23}},
        {"  2009-4-1 3:15 pm ", CalendarDate{2009, 4, 1}},
        {"3/23/2009 25:00", std::nullopt},
        {"3/23/2009 13:00 PM", std::nullopt},
        {"3/23/2009 10:60", std::nullopt},
        {"Mar. 5, 2009", std::nullopt},
        {"Smarch 1, 2009", std::nullopt},
        {"4/1/2009; DROP", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseDateText(text), expected);
    }
    EXPECT_EQ(isoDate({2009, 4, 1}), "2009-04-01");
    EXPECT_EQ(shortDate({2009, 4, 1}), "4/1/2009");
    EXPECT_EQ(shortDate({395, 4, 1}), "4/1/0395");
}

// Rows the writer rarely meets: a code no lookup entry has, dates written by other means,
// texts to escape; and a document that outgrows the room it was given is the same bytes.
TEST(LoadDocumentWriter, WritesEveryRowTheSameWhateverItsRoom) {
    const VendorComments load{{{12, "Dock & Yard"}},
                              {{4, "Shipping"}},
                              {{"V<1>", 1, 4, 12, "2009-04-01", "", "a & b\r\n<c>"},
                               {"V<1>", 2, 99, 7, "2009-4-1", "soon", "\x01"}}};
    const std::string grid1 = "  <GRID>\n    <VendorID>V&lt;1&gt;</VendorID>\n"
                              "    <CommentSequence>1</CommentSequence>\n    <Type>4</Type>\n"
                              "    <TypeName>Shipping</TypeName>\n    <Location>12</Location>\n"
                              "    <LocationName>Dock &amp; Yard</LocationName>\n"
                              "    <Effective>4/1/2009</Effective>\n    <Expires></Expires>\n"
                              "    <Comment>a &amp; b&#13;\n&lt;c&gt;</Comment>\n  </GRID>\n";
    const std::string grid2 = "  <GRID>\n    <VendorID>V&lt;1&gt;</VendorID>\n"
                              "    <CommentSequence>2</CommentSequence>\n    <Type>99</Type>\n"
                              "    <TypeName></TypeName>\n    <Location>7</Location>\n"
                              "    <LocationName></LocationName>\n"
                              "    <Effective>4/1/2009</Effective>\n    <Expires>soon</Expires>\n"
                              "    <Comment>?</Comment>\n  </GRID>\n";
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorComments>\n"
        "  <LOC>\n    <Code>12</Code>\n    <Name>Dock &amp; Yard</Name>\n  </LOC>\n"
        "  <TYP>\n    <Code>4</Code>\n    <Name>Shipping</Name>\n  </TYP>\n" +
        grid1 + grid2 + "</VendorComments>\n";
    EXPECT_EQ(loadDocument(load), expected);
    for (const std::size_t room : {std::size_t{1}, expected.size(), std::size_t{1} << 20}) {
        LoadDocumentWriter writer(room);
        handOn(load, writer);
        handOn(load, writer); // a read that starts again starts the document again
        EXPECT_EQ(std::move(writer).finish().view(), expected) << room;
    }
    VendorComments many = load;
    many.comments.resize(2000, load.comments[0]);
    std::string grown = expected;
    for (int i = 0; i < 1998; ++i) {
        grown.insert(grown.size() - std::strlen("</VendorComments>\n"), grid1);
    }
    EXPECT_EQ(loadDocument(many), grown);
}
