// The server page over HTTP on 127.0.0.1, in-process, against a fresh database per test, on
// each store.

#include "ServerTestSupport.h"
#include "http/CommentServer.h"
#include "statement/LoadDocumentWriter.h"
#include "statement/Statement.h"
#include "store/DemoData.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <pugixml.hpp>
#include <zlib.h>

#include <atomic>
#include <set>
#include <thread>

using namespace vcserver;
using namespace vctest;

namespace {

const char* const kPage = "/VendorCommentLOAD.asp";
const char* const kFormType = "application/x-www-form-urlencoded";

// A gzip member's content; empty when the bytes are anything else.
std::string gunzip(const std::string& packed) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) {
        return {};
    }
    std::string out;
    char buf[64 * 1024];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof buf - z.avail_out);
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END && z.avail_in == 0 ? out : std::string();
}

// The store's name as the test name's suffix.
std::string kindName(const ::testing::TestParamInfo<StoreKind>& info) {
    return storeName(info.param);
}

class ServerTest : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        try {
            db_ = std::make_unique<TestDatabase>(GetParam());
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        store_ = openStore(db_->location(), 16);
        DemoData lookups = demoData();
        lookups.comments.clear();
        lookups.locations.push_back({-1, "Nowhere"});
        store_->seed(lookups);
        server_ = std::make_unique<RunningServer>(*store_, nullptr);
        port_ = server_->port();
        ASSERT_GT(port_, 0);
    }

    std::string snapshot() const { return db_->snapshot(); }

    httplib::Client client() const { return httplib::Client("127.0.0.1", port_); }

    // Posts a statement as the control does (Windows-1252 bytes, form-encoded).
    httplib::Result post(const std::string& statement) const {
        return client().Post(kPage, "SQL=" + formEncode(statement), kFormType);
    }

    void expectAccepted(const std::string& statement) const {
        const auto res = post(statement);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->body, "") << statement;
    }

    pugi::xml_document load(const std::string& vendorQuery) const {
        pugi::xml_document doc;
        const auto res = client().Get(std::string(kPage) + "?Vendor=" + vendorQuery +
                                      "&SCRN=7&PODate=03/23/2009");
        EXPECT_TRUE(res);
        if (res) {
            EXPECT_EQ(res->status, 200);
            EXPECT_TRUE(doc.load_string(res->body.c_str())) << res->body;
        }
        return doc;
    }

    // The GRID children of a vendor's document as rows of texts.
    std::vector<std::vector<std::string>> grid(const std::string& vendorQuery) const {
        std::vector<std::vector<std::string>> rows;
        const auto doc = load(vendorQuery);
        for (const auto& g : doc.document_element().children("GRID")) {
            auto& row = rows.emplace_back();
            for (const auto& child : g.children()) {
                row.push_back(child.child_value());
            }
        }
        return rows;
    }

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<CommentStore> store_;
    std::unique_ptr<RunningServer> server_;
    int port_ = 0;
};

TEST_P(ServerTest, LoadDocumentOfSeededVendor) {
    store_->seed(demoData());
    const auto doc = load("318");
    const auto root = doc.document_element();
    EXPECT_STREQ(root.name(), "VendorComments");

    std::vector<std::string> locations, types;
    for (const auto& n : root.children("LOC")) {
        locations.push_back(n.child_value("Name"));
    }
    for (const auto& n : root.children("TYP")) {
        types.push_back(n.child_value("Name"));
    }
    EXPECT_EQ(locations, (std::vector<std::string>{"Accounts Payable", "Nowhere", "Purchasing",
                                                   "Receiving Dock", "Warehouse"}));
    EXPECT_EQ(types, (std::vector<std::string>{"General", "Payment Terms", "Quality", "Shipping"}));

    const std::vector<std::string> names = {"VendorID",  "CommentSequence", "Type",
                                            "TypeName",  "Location",        "LocationName",
                                            "Effective", "Expires",         "Comment"};
    int sequence = 0;
    for (const auto& g : root.children("GRID")) {
        std::vector<std::string> childNames;
        for (const auto& c : g.children()) {
            childNames.push_back(c.name());
        }
        EXPECT_EQ(childNames, names);
        EXPECT_EQ(std::stoi(g.child_value("CommentSequence")), ++sequence);
    }
    EXPECT_EQ(sequence, 4);

    const auto rows = grid("318");
    EXPECT_EQ(rows[0], (std::vector<std::string>{"318", "1", "4", "Shipping", "12", "Warehouse",
                                                 "4/1/2009", "", "Don`t ship on Fridays."}));
    EXPECT_EQ(rows[1][6], "1/1/2009");
    EXPECT_EQ(rows[1][7], "12/31/2009");
    EXPECT_GT(rows[3][8].size(), 500u);
}

TEST_P(ServerTest, LoadQueryValuesArePercentDecoded) {
    store_->seed(demoData());
    EXPECT_EQ(grid("V%31%30%30").size(), 2u);
    EXPECT_EQ(grid("318%26SCRN%3D7").size(), 0u) << "an escaped & is part of the key";
    EXPECT_EQ(grid("").size(), 0u);
    const auto res = client().Get(kPage);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
}

// Compressed only when asked for and worth it; the bytes unpack to exactly the plain answer.
TEST_P(ServerTest, LoadAnswerIsGzippedForClientsThatTakeIt) {
    DemoData many;
    for (int i = 0; i < 40; ++i) {
        many.comments.push_back({"BIG", 4, 12, CalendarDate{2009, 4, 1}, std::nullopt,
                                 "Comment " + std::to_string(i) + " & <more>\r\n"});
    }
    store_->seed(many);
    auto raw = client();
    raw.set_decompress(false);
    const auto get = [&](const std::string& vendor, const char* codings) {
        httplib::Headers headers;
        if (codings) {
            headers.emplace("Accept-Encoding", codings);
        }
        return raw.Get(std::string(kPage) + "?Vendor=" + vendor + "&SCRN=7&PODate=1/1/2009",
                       headers);
    };
    const auto plain = get("BIG", nullptr);
    ASSERT_TRUE(plain);
    ASSERT_GT(plain->body.size(), 4096u);
    EXPECT_FALSE(plain->has_header("Content-Encoding"));
    EXPECT_EQ(plain->get_header_value("Vary"), "Accept-Encoding");

    const struct {
        const char* codings;
        bool gzip;
    } cases[] = {
        {"gzip", true},      {"deflate, GZIP;q=0.5", true}, {"*", true},
        {"gzip;q=0", false}, {"*, gzip; q=0.0", false},     {"identity, deflate", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codings);
        const auto res = get("BIG", c.codings);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Vary"), "Accept-Encoding");
        if (c.gzip) {
            EXPECT_EQ(res->get_header_value("Content-Encoding"), "gzip");
            EXPECT_LT(res->body.size(), plain->body.size() / 4);
            EXPECT_EQ(gunzip(res->body), plain->body);
        } else {
            EXPECT_FALSE(res->has_header("Content-Encoding"));
            EXPECT_EQ(res->body, plain->body);
        }
    }
    const auto small = get("NONE", "gzip");
    ASSERT_TRUE(small);
    EXPECT_FALSE(small->has_header("Content-Encoding")) << "a short document goes as it is";
    EXPECT_EQ(small->body.find("<?xml"), 0u);
}

TEST_P(ServerTest, ExampleStatementsInsertUpdateAndDelete) {
    for (int i = 0; i < 7; ++i) {
        expectAccepted(kExampleInsert);
    }
    auto rows = grid("318");
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[6], (std::vector<std::string>{"318", "7", "4", "Shipping", "12", "Warehouse",
                                                 "4/1/2009", "", "Don`t ship"}));
    EXPECT_NE(snapshot().find("318|7|4|12|2009-04-01|NULL|Don`t ship|"), std::string::npos)
        << "dates are stored as yyyy-mm-dd";

    expectAccepted(updateStatement("318", 7, 2, -1, "Mar 05, 2009", "12/31/2009", "Changed"));
    rows = grid("318");
    EXPECT_EQ(rows[6], (std::vector<std::string>{"318", "7", "2", "Payment Terms", "-1", "Nowhere",
                                                 "3/5/2009", "12/31/2009", "Changed"}));
    expectAccepted(kExampleUpdate);
    EXPECT_EQ(grid("318")[6][8], "Don`t ship");

    expectAccepted(kExampleDelete);
    rows = grid("318");
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows.back()[1], "6");
}

// An update of a comment deleted meanwhile must not look saved; a delete of one is done.
TEST_P(ServerTest, StatementsMatchingNoRowChangeNothing) {
    expectAccepted(kExampleInsert);
    const std::string before = snapshot();
    const auto res = post(updateStatement("318", 99, 1, 1, "", "", "x"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_EQ(res->body, "Statement refused: comment 99 of vendor 318 no longer exists");
    expectAccepted(deleteStatement("V100", 1));
    EXPECT_EQ(snapshot(), before);
}

TEST_P(ServerTest, UnknownCodesAreRefused) {
    expectAccepted(kExampleInsert);
    const std::string before = snapshot();
    for (const auto& [sql, why] :
         {std::pair{insertBatch("318", 99, 12, "", "", "x"), "type 99"},
          std::pair{insertBatch("318", 4, 77, "", "", "x"), "location 77"},
          std::pair{updateStatement("318", 1, 4, 77, "", "", "x"), "location 77"}}) {
        const auto res = post(sql);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_NE(res->body.find(why), std::string::npos) << res->body;
    }
    EXPECT_EQ(snapshot(), before);
}

TEST_P(ServerTest, RefusedBodiesLeaveTheTablesUnchanged) {
    expectAccepted(kExampleInsert);
    const std::string before = snapshot();
    std::vector<RefusedCase> bodies;
    for (const auto& c : refusedStatements()) {
        bodies.push_back({c.name, "SQL=" + formEncode(c.sql), c.because});
    }
    const char* const notTheField = "must be SQL= followed by the statement.";
    bodies.push_back({"EmptyBody", "", notTheField});
    bodies.push_back({"NoSqlField", "Statement=" + formEncode(kExampleDelete), notTheField});
    bodies.push_back({"SecondField", "SQL=" + formEncode(kExampleDelete) + "&x=1",
                      "Statement refused: the request body must hold only the SQL field."});
    bodies.push_back(
        {"BadEscape", "SQL=" + formEncode(kExampleDelete) + "%Z1", "malformed %-escape"});
    bodies.push_back({"UndefinedCodePageByte", "SQL=" + formEncode(kExampleDelete) + "%81", ""});
    for (const auto& [name, body, because] : bodies) {
        SCOPED_TRACE(name);
        const auto res = client().Post(kPage, body, kFormType);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_FALSE(res->body.empty());
        EXPECT_NE(res->body.find(because), std::string::npos) << res->body;
        EXPECT_EQ(res->body.find('\n'), std::string::npos);
    }
    EXPECT_EQ(snapshot(), before);
}

TEST_P(ServerTest, BodySizeLimit) {
    // Far above httplib's 8,192-byte limit for form bodies, below ours.
    const std::string comment(kMaxCommentCharacters, 'c');
    expectAccepted(insertBatch("318", 4, 12, "", "", comment));
    EXPECT_EQ(grid("318").at(0).at(8), comment);

    const std::string oversized = "SQL=" + std::string(CommentServer::kMaxBodyBytes, 'a');
    auto res = client().Post(kPage, oversized, kFormType);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);

    // Chunked, so only the server's own count can catch it.
    res = client().Post(
        kPage,
        [&](std::size_t offset, httplib::DataSink& sink) {
            const std::size_t n = std::min<std::size_t>(65536, oversized.size() - offset);
            sink.write(oversized.data() + offset, n);
            if (offset + n == oversized.size()) {
                sink.done();
            }
            return true;
        },
        kFormType);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    EXPECT_EQ(grid("318").size(), 1u);
}

TEST_P(ServerTest, UnknownPathsAndOtherMethods) {
    auto res = client().Get("/Other.asp");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    res = client().Put(kPage, "SQL=" + formEncode(kExampleDelete), kFormType);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 405);
    EXPECT_EQ(res->get_header_value("Allow"), "GET, POST");
    res = client().Delete(kPage);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 405);
}

TEST_P(ServerTest, ConcurrentInsertsGetDistinctSequences) {
    constexpr int kThreads = 16;
    std::vector<std::thread> threads;
    std::vector<int> statuses(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const auto res = post(insertBatch("V100", 1, 1, "", "", "n" + std::to_string(i)));
            statuses[i] = res ? res->status : -static_cast<int>(res.error());
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(statuses, std::vector<int>(kThreads, 200));
    std::set<std::string> sequences, comments;
    for (const auto& row : grid("V100")) {
        sequences.insert(row[1]);
        comments.insert(row[8]);
    }
    EXPECT_EQ(sequences.size(), std::size_t{kThreads});
    EXPECT_EQ(comments.size(), std::size_t{kThreads});
}

TEST_P(ServerTest, Windows1252TextReadsBackAsUnicode) {
    // "é" and "€" arrive as the single bytes E9 and 80.
    expectAccepted(insertBatch("318", 4, 12, "", "", "caf\xE9 5\x80"));
    expectAccepted(insertBatch("318", 4, 12, "", "", "<b>&amp;\r\nline"));
    const auto rows = grid("318");
    EXPECT_EQ(rows[0][8], "caf\xC3\xA9 5\xE2\x82\xAC");
    EXPECT_EQ(rows[1][8], "<b>&amp;\r\nline");
}

// Names sort as SQLite's NOCASE collation and then byte order sort them: ASCII letters
// folded, everything else by its UTF-8 bytes, equal names by code. PostgreSQL's linguistic
// default collations order these differently.
TEST_P(ServerTest, LookupNamesSortAsciiFoldedThenByBytes) {
    const std::vector<std::string> sorted = {"_under",
                                             "Apple",
                                             "apple",
                                             "apple",
                                             "General",
                                             "Payment Terms",
                                             "Quality",
                                             "Shipping",
                                             "zebra",
                                             "Zed",
                                             "\xC3\x89"
                                             "CLAIR",
                                             "\xC3\x89"
                                             "clair",
                                             "\xC3\xA9"
                                             "clair"};
    DemoData types;
    // Codes in another order than the names, so only the sort can put them right.
    const std::vector<std::size_t> order = {12, 3, 9, 1, 8, 2, 10, 0, 11};
    for (std::size_t i = 0; i < order.size(); ++i) {
        types.types.push_back({static_cast<std::int64_t>(100 + i), sorted[order[i]]});
    }
    store_->seed(types);
    std::vector<std::string> names;
    const pugi::xml_document document = load("318");
    for (const auto& n : document.document_element().children("TYP")) {
        names.push_back(n.child_value("Name"));
    }
    EXPECT_EQ(names, sorted);
}

// Two stores stand for two server processes on one database: only the database's own locks
// keep their sequences apart.
class StoreTest : public ::testing::TestWithParam<StoreKind> {};

TEST_P(StoreTest, TwoStoresOnOneDatabaseNeverShareASequence) {
    std::unique_ptr<TestDatabase> db;
    try {
        db = std::make_unique<TestDatabase>(GetParam());
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    auto first = openStore(db->location(), 4);
    first->seed(demoData());
    auto second = openStore(db->location(), 4);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            CommentStore& store = i % 2 ? *first : *second;
            const InsertComment insert{"V200", {1, 1, std::nullopt, std::nullopt, "x"}};
            for (int n = 0; n < 4; ++n) {
                if (store.execute(insert, "test").outcome != ExecResult::Outcome::Done) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures, 0);
    std::set<std::int64_t> sequences;
    for (const auto& c : first->load("V200").comments) {
        sequences.insert(c.sequence);
    }
    EXPECT_EQ(sequences.size(), 32u);
    EXPECT_EQ(*sequences.rbegin(), 32);
}

// A table made elsewhere may match a key it does not hold to the letter (another case,
// padding): the document shows each comment's key as stored, on either path of the load.
TEST_P(StoreTest, AKeyMatchedLooselyIsShownAsStored) {
    std::unique_ptr<TestDatabase> db;
    try {
        db = std::make_unique<TestDatabase>(GetParam());
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    db->exec(std::string("CREATE TABLE CommentType (Code bigint PRIMARY KEY, Name text NOT NULL);"
                         "CREATE TABLE CommentLocation (Code bigint PRIMARY KEY, Name text NOT "
                         "NULL); CREATE TABLE VendorComment (VendorID ") +
             (sqlite ? "text COLLATE NOCASE" : "char(6)") +
             " NOT NULL, CommentSequence bigint NOT NULL, Type bigint NOT NULL, Location bigint "
             "NOT NULL, Effective date, Expires date, Comment text NOT NULL, RecordLastUpdated "
             "timestamp NOT NULL, PRIMARY KEY (VendorID, CommentSequence));"
             "INSERT INTO CommentType VALUES (1, 'General');"
             "INSERT INTO CommentLocation VALUES (1, 'Dock');"
             "INSERT INTO VendorComment VALUES ('V1', 1, 1, 1, NULL, NULL, 'x', "
             "'2009-04-01 00:00:00');");
    auto store = openStore(db->location(), 1);
    const std::string stored = sqlite ? "<VendorID>V1</VendorID>" : "<VendorID>V1    </VendorID>";
    LoadDocumentWriter writer;
    store->loadChanged(sqlite ? "v1" : "V1", {}, writer);
    EXPECT_NE(std::string(std::move(writer).finish().view()).find(stored), std::string::npos);
    EXPECT_NE(loadDocument(store->load(sqlite ? "v1" : "V1")).find(stored), std::string::npos);
}

// The same statements leave the same answers and the same load document on both stores, byte
// for byte: dates at the ends of the calendar, text that needs escaping, refusals.
TEST(BothStores, SameStatementsGiveTheSameDocument) {
    const std::vector<std::string> statements = {
        insertBatch("318", 4, 12, "1/1/1753", "12/31/9999",
                    "caf\xC3\xA9 5 \xE2\x82\xAC <b>&\r\n\tx"),
        insertBatch("318", 1, 2, "", "2/29/2008", "Don`t ship"),
        insertBatch("318", 2, 3, "Mar 05, 2009", "", "three"),
        updateStatement("318", 2, 3, 1, "2009-12-31", "", "changed"),
        deleteStatement("318", 3),
        insertBatch("318", 2, 3, "", "", "takes sequence 3 again"),
        updateStatement("318", 9, 3, 1, "", "", "gone"),
        insertBatch("318", 99, 1, "", "", "no such type"),
        updateStatement("318", 1, 1, 77, "", "", "no such location"),
        deleteStatement("318", 42),
    };
    std::vector<std::string> outcomes[2], documents[2];
    for (const auto kind : {StoreKind::Sqlite, StoreKind::Postgres}) {
        SCOPED_TRACE(storeName(kind));
        std::unique_ptr<TestDatabase> db;
        try {
            db = std::make_unique<TestDatabase>(kind);
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        auto store = openStore(db->location(), 2);
        store->seed(demoData());
        const auto i = static_cast<std::size_t>(kind);
        for (const auto& sql : statements) {
            const auto parsed = parseStatement(sql);
            ASSERT_TRUE(parsed.statement) << parsed.error;
            const auto result = store->execute(*parsed.statement, "test");
            outcomes[i].push_back(std::to_string(static_cast<int>(result.outcome)) + " " +
                                  result.message);
        }
        for (const char* vendor : {"318", "V100", "none"}) {
            documents[i].push_back(loadDocument(store->load(vendor)));
        }
    }
    EXPECT_EQ(outcomes[0], outcomes[1]);
    EXPECT_EQ(documents[0], documents[1]);
    EXPECT_NE(documents[0][0].find("<Effective>1/1/1753</Effective>"), std::string::npos)
        << documents[0][0];
}

const auto kStores = ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres);
INSTANTIATE_TEST_SUITE_P(Store, ServerTest, kStores, kindName);
INSTANTIATE_TEST_SUITE_P(Store, StoreTest, kStores, kindName);

} // namespace
