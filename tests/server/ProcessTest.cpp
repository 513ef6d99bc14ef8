// The real program: first output line, restart with the same database, signals, start-up
// errors, and several processes sharing one PostgreSQL database.

#include "ServerProcess.h"
#include "ServerTestSupport.h"
#include "TestCertificate.h"
#include "access/PasswordHash.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <fstream>
#include <numeric>
#include <set>
#include <thread>

using namespace vctest;

namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

httplib::Client clientOf(const std::string& baseUrl) {
    return httplib::Client(baseUrl.substr(0, baseUrl.size() - 1));
}

std::string loadBody(const std::string& baseUrl, const std::string& vendor) {
    const auto res = clientOf(baseUrl).Get("/VendorCommentLOAD.asp?Vendor=" + vendor);
    return res && res->status == 200 ? res->body : "";
}

int gridCount(const std::string& baseUrl, const std::string& vendor) {
    const std::string body = loadBody(baseUrl, vendor);
    int count = 0;
    for (auto at = body.find("<GRID>"); at != std::string::npos; at = body.find("<GRID>", at + 1)) {
        ++count;
    }
    return count;
}

std::string kindName(const ::testing::TestParamInfo<StoreKind>& info) {
    return storeName(info.param);
}

class ServerProgram : public ::testing::TestWithParam<StoreKind> {};

TEST_P(ServerProgram, DataSurvivesRestartAndSignalsStopCleanly) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    TempDir dir;
    const auto errors = dir.path() / "stderr.txt";
    const std::vector<std::string> args = {"--db", db->location(), "--listen", "127.0.0.1:0",
                                           "--seed-demo"};

    for (const int stopSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(stopSignal);
        ServerProcess server(args, errors);
        const std::string url = server.firstLine();
        ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url << readFile(errors);
        ASSERT_EQ(url.back(), '/');
        // Seeding again adds nothing; the insert of the first run is still there.
        EXPECT_EQ(gridCount(url, "318"), stopSignal == SIGTERM ? 4 : 5);

        const auto res =
            clientOf(url).Post("/VendorCommentLOAD.asp", "SQL=" + formEncode(kExampleInsert),
                               "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->body, "");

        server.signal(stopSignal);
        EXPECT_EQ(server.wait(), 0);
    }
    const std::string log = readFile(errors);
    EXPECT_NE(log.find("POST /VendorCommentLOAD.asp 200"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /VendorCommentLOAD.asp?Vendor=318 200"), std::string::npos) << log;
}

struct StartUpCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string message;     // a fragment of standard error
    std::string secret = {}; // must not appear anywhere in standard error
};

std::vector<StartUpCase> startUpCases(TestDatabase& db, const std::filesystem::path& dir) {
    db.exec("CREATE TABLE VendorComment (VendorID text, Seq integer)");
    if (db.kind() == StoreKind::Sqlite) {
        const auto notADatabase = dir / "text.db";
        std::ofstream(notADatabase) << "This is not an SQLite database, just some text that is "
                                       "long enough to fill the header of one.\n";
        const auto roleIsAPassword = dir / "role-is-a-password";
        std::ofstream(roleIsAPassword)
            << "# the team\n\nalice:write:" << vcserver::hashPassword("pw")
            << "\nbob:Role-Secret-9:x\n";
        const auto plainPassword = dir / "plain-password";
        std::ofstream(plainPassword) << "carol:read:Plain-Secret-8\n";
        std::filesystem::create_directory(dir / "a-directory");
        const TestCertificate one = makeTestCertificate(dir);
        std::filesystem::create_directory(dir / "other");
        const TestCertificate other = makeTestCertificate(dir / "other");
        return {
            {"UsersFileMissing",
             {"--db", db.location(), "--users", (dir / "no-users").string()},
             1,
             "cannot read users file " + (dir / "no-users").string() +
                 ": No such file or directory"},
            {"UsersFileIsADirectory",
             {"--db", db.location(), "--users", (dir / "a-directory").string()},
             1,
             "Is a directory"},
            {"UsersFileRoleIsAPassword",
             {"--db", db.location(), "--users", roleIsAPassword.string()},
             1,
             "users file " + roleIsAPassword.string() +
                 ", line 4: the role is neither read nor write",
             "Role-Secret"},
            {"UsersFilePlainPassword",
             {"--db", db.location(), "--users", plainPassword.string()},
             1,
             "line 1: the hash's method is too weak",
             "Plain-Secret"},
            {"OpenOnEveryAddress",
             {"--db", db.location(), "--listen", "0.0.0.0:0"},
             2,
             "refusing to serve 0.0.0.0:0 without --users"},
            {"TlsKeyOfAnotherCertificate",
             {"--db", db.location(), "--tls-cert", one.certificate.string(), "--tls-key",
              other.key.string()},
             1,
             "does not go with the certificate"},
            {"TlsCertificateWithoutKey",
             {"--db", db.location(), "--tls-cert", one.certificate.string()},
             2,
             "--tls-cert and --tls-key go together"},
            {"MissingDirectory",
             {"--db", (dir / "no/such/dir.db").string()},
             1,
             "cannot use database"},
            {"NotADatabase", {"--db", notADatabase.string()}, 1, "cannot use database"},
            {"NoDatabaseGiven", {"--listen", "127.0.0.1:0"}, 2, "--db FILE|URI is required"},
            {"ValueAfterAnEqualsSign",
             {"--db=" + (dir / "no/such/dir.db").string()},
             1,
             "cannot use database"},
            {"OptionWithoutItsValue", {"--listen", "127.0.0.1:0", "--db"}, 2, "--db wants a value"},
            {"UnknownOption",
             {"--db", db.location(), "--colour"},
             2,
             "unexpected argument '--colour'"},
            {"BadListen", {"--db", db.location(), "--listen", "localhost"}, 2, "--listen"},
            {"MetricsOnEveryAddress",
             {"--db", db.location(), "--metrics-listen", "0.0.0.0:0"},
             2,
             "refusing to serve metrics on 0.0.0.0:0, which has no sign-in"},
            {"JsonStartUpError",
             {"--db", (dir / "no/such/dir.db").string(), "--log-format", "json"},
             1,
             "\"level\":\"error\",\"message\":\"cannot use database"},
            {"TableWithOtherColumns",
             {"--db", db.location()},
             1,
             "table VendorComment has other columns"},
        };
    }
    const std::string member = db.createRole("member-pw", true);
    const std::string outsider = db.createRole("outsider-pw", false);
    return {
        {"UriLibpqRefuses",
         {"--db", "postgresql://" + member + ":hid%zzden-pw@127.0.0.1/x"},
         1,
         "invalid percent-encoded token",
         "zzden"},
        {"UnknownUriParameter", {"--db", db.location() + "&colour=blue"}, 1, "\"colour\"", ""},
        {"NoSuchDatabase",
         {"--db", db.uriFor(member, "member-pw", "vct_no_such_database")},
         1,
         "database \"vct_no_such_database\" does not exist",
         "member-pw"},
        {"WrongPassword",
         {"--db", db.uriFor(member, "Wrong-Secret-42")},
         1,
         "password authentication failed",
         "Wrong-Secret-42"},
        {"RoleWithoutRights",
         {"--db", db.uriFor(outsider, "outsider-pw")},
         1,
         "role " + outsider + " may use no schema",
         "outsider-pw"},
        {"TableWithOtherColumns",
         {"--db", db.location()},
         1,
         "table VendorComment has other columns",
         ""},
    };
}

// Each ends at once with status 1 (2 for a usage error) and, for a database it cannot use,
// one line that says why.
// A database of version 1 as the previous release made it on PostgreSQL, with one comment
// (the SQLite one is tests/server/data/version1.db, made by that release).
const char* const kVersionOnePostgres =
    "CREATE TABLE CommentType (Code bigint PRIMARY KEY, Name text NOT NULL);"
    "CREATE TABLE CommentLocation (Code bigint PRIMARY KEY, Name text NOT NULL);"
    "CREATE TABLE VendorComment (VendorID text NOT NULL, CommentSequence bigint NOT NULL, "
    "Type bigint NOT NULL REFERENCES CommentType (Code), Location bigint NOT NULL REFERENCES "
    "CommentLocation (Code), Effective date, Expires date, Comment text NOT NULL, "
    "RecordLastUpdated timestamptz NOT NULL, PRIMARY KEY (VendorID, CommentSequence));"
    "CREATE TABLE SchemaVersion (Id integer PRIMARY KEY DEFAULT 1 CHECK (Id = 1), "
    "Version integer NOT NULL);"
    "INSERT INTO SchemaVersion (Version) VALUES (1);"
    "INSERT INTO CommentType VALUES (2, 'Terms');"
    "INSERT INTO CommentLocation VALUES (1, 'Purchasing');"
    "INSERT INTO VendorComment VALUES ('318', 2, 2, 1, '2009-01-01', '2009-12-31', "
    "'Net 30, 2% discount when paid within 10 days.', '2026-12-09 13:23:13.572');";

// The server started on a database of the previous release migrates it, keeping its
// comments, and then keeps what a client deletes, named by the client's address.
TEST_P(ServerProgram, MigratesAVersionOneDatabaseAtStart) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    if (sqlite) {
        std::filesystem::copy_file(std::string(VC_TEST_DATA) + "/version1.db", db->location());
    } else {
        db->exec(kVersionOnePostgres);
    }
    TempDir dir;
    {
        ServerProcess server({"--db", db->location(), "--listen", "127.0.0.1:0"},
                             dir.path() / "stderr.txt");
        const std::string url = server.firstLine();
        ASSERT_FALSE(url.empty()) << readFile(dir.path() / "stderr.txt");
        EXPECT_EQ(gridCount(url, "318"), sqlite ? 4 : 1);
        const auto res = clientOf(url).Post("/VendorCommentLOAD.asp",
                                            "SQL=" + formEncode(with(kExampleDelete, "= 7", "= 2")),
                                            "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
        EXPECT_EQ(gridCount(url, "318"), sqlite ? 3 : 0);
    }
    const auto kept = vcserver::openStore(db->location(), 1)->history("318", 2);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].change, "deleted");
    EXPECT_EQ(kept[0].changedBy, "127.0.0.1");
    EXPECT_EQ(kept[0].comment.comment, "Net 30, 2% discount when paid within 10 days.");
    EXPECT_EQ(kept[0].comment.expires, "2009-12-31");
    if (!sqlite) {
        EXPECT_EQ(db->exec("SELECT Version FROM SchemaVersion"),
                  std::to_string(vcserver::kSchemaVersion) + "|\n");
    }
}

TEST_P(ServerProgram, StartUpErrorsExitWithOneClearLine) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    TempDir dir;
    const auto errors = dir.path() / "stderr.txt";
    for (const auto& c : startUpCases(*db, dir.path())) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(errors);
        ServerProcess server(c.args, errors);
        EXPECT_EQ(server.firstLine(), "");
        EXPECT_EQ(server.wait(), c.exitCode);
        const std::string text = readFile(errors);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        if (c.exitCode == 1) {
            EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
        }
        if (!c.secret.empty()) {
            EXPECT_EQ(text.find(c.secret), std::string::npos) << text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Store, ServerProgram,
                         ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres), kindName);

// Four processes start together on one empty database (tables and demo data made once), then
// sixteen clients insert for one vendor through all of them: every insert is answered as
// done, and the sequences are 1..N with no gap and no repeat.
TEST(ServerPrograms, FourProcessesOnOnePostgresDatabaseShareSequences) {
    const auto db = makeDatabase(StoreKind::Postgres);
    ASSERT_TRUE(db);
    TempDir dir;
    constexpr int kProcesses = 4, kClients = 16, kInsertsPerClient = 8;
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int i = 0; i < kProcesses; ++i) {
        servers.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db", db->location(), "--listen", "127.0.0.1:0",
                                     "--seed-demo"},
            dir.path() / ("stderr" + std::to_string(i) + ".txt")));
    }
    std::vector<std::string> urls;
    for (int i = 0; i < kProcesses; ++i) {
        urls.push_back(servers[i]->firstLine());
        ASSERT_EQ(urls.back().rfind("http://", 0), 0u)
            << readFile(dir.path() / ("stderr" + std::to_string(i) + ".txt"));
    }

    std::vector<std::thread> clients;
    std::vector<std::vector<int>> statuses(kClients);
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            auto client = clientOf(urls[c % kProcesses]);
            for (int i = 0; i < kInsertsPerClient; ++i) {
                const std::string text = "client " + std::to_string(c) + " #" + std::to_string(i);
                const auto res =
                    client.Post("/VendorCommentLOAD.asp",
                                "SQL=" + formEncode(insertBatch("RACE", 1, 1, "", "", text)),
                                "application/x-www-form-urlencoded");
                statuses[c].push_back(res ? res->status : -1);
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    for (const auto& s : statuses) {
        EXPECT_EQ(s, std::vector<int>(kInsertsPerClient, 200));
    }

    const std::string body = loadBody(urls[0], "RACE");
    std::vector<int> sequences;
    std::set<std::string> comments;
    for (auto at = body.find("<CommentSequence>"); at != std::string::npos;
         at = body.find("<CommentSequence>", at + 1)) {
        sequences.push_back(std::stoi(body.substr(at + 17)));
    }
    for (auto at = body.find("<Comment>"); at != std::string::npos;
         at = body.find("<Comment>", at + 1)) {
        comments.insert(body.substr(at + 9, body.find('<', at + 9) - at - 9));
    }
    std::vector<int> expected(kClients * kInsertsPerClient);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(sequences, expected);
    EXPECT_EQ(comments.size(), expected.size());
    EXPECT_EQ(gridCount(urls[1], "318"), 4) << "four servers seeding at once seed once";
}

} // namespace

TEST(ServerPrograms, AnswersItsVersion) {
    TempDir dir;
    ServerProcess server({"--version"}, dir.path() / "stderr.txt");
    EXPECT_EQ(server.firstLine(), "vendor-comment-server 2.0.6");
    EXPECT_EQ(server.wait(), 0);
}
