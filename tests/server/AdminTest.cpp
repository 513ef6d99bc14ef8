// The operator's commands on a database, run as the real program: lookups on a fresh
// database, the schema version, CSV import and export, and the SQLite backup while clients
// insert.

#include "TestDatabase.h"
#include "store/CommentStore.h"
#include "store/FilteredVfs.h"
#include "store/SqliteBackup.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

using namespace vctest;
using vcserver::CalendarDate;

namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// The program with these arguments, standard output and error kept.
Ran run(std::vector<std::string> args) {
    TempDir dir;
    const auto out = dir.path() / "out", err = dir.path() / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    args.insert(args.begin(), VC_SERVER_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    Ran result;
    if (posix_spawn(&pid, VC_SERVER_PROGRAM, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

vcserver::InsertComment insertOf(const std::string& vendor, std::int32_t type,
                                 std::int32_t location, const std::string& text) {
    return {vendor, {type, location, std::nullopt, std::nullopt, text}};
}

class Admin : public ::testing::TestWithParam<StoreKind> {};

// From a database made without demo data: lookups added, refused, renamed and removed, each
// in one line; then a comment can be saved, and removing its type needs --force, which
// deletes it, keeping it in the history.
TEST_P(Admin, LookupsMakeAFreshDatabaseUsable) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    const std::string at = db->location();
    struct Step {
        std::vector<std::string> args;
        int status;
        std::string said; // on standard output when 0, on standard error otherwise
    };
    const Step steps[] = {
        {{"lookup", "add", "--db", at, "type", "1", "General"}, 0, "added type 1 (General)"},
        {{"lookup", "add", "--db", at, "type", "1", "Other"}, 1, "type 1 (General) already exists"},
        {{"lookup", "add", "--db", at, "location", "7", "Dock"}, 0, "added location 7 (Dock)"},
        {{"lookup", "rename", "--db", at, "type", "1", "Billing"}, 0, "renamed type 1 to Billing"},
        {{"lookup", "rename", "--db", at, "type", "2", "X"}, 1, "there is no type 2"},
        {{"lookup", "remove", "--db", at, "location", "8"}, 1, "there is no location 8"},
        {{"lookup", "add", "--db", at, "type", "x1", "X"}, 2, "the code must be a whole number"},
        {{"lookup", "add", "--db", at, "type", "3", " "}, 2, "the name is empty"},
        {{"lookup", "list", "--db", at, "type"}, 0, "1\tBilling\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[1] + " " + step.args[4]);
        const Ran r = run(step.args);
        EXPECT_EQ(r.status, step.status) << r.err;
        const std::string& said = step.status == 0 ? r.out : r.err;
        EXPECT_NE(said.find(step.said), std::string::npos) << said;
        if (step.status == 1) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        }
    }
    {
        const auto store = vcserver::openStore(at, 1);
        EXPECT_EQ(store->execute(insertOf("V1", 1, 7, "kept"), "test").outcome,
                  vcserver::ExecResult::Outcome::Done);
    }
    const Ran refused = run({"lookup", "remove", "--db", at, "type", "1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is used by 1 comment; --force"), std::string::npos) << refused.err;
    EXPECT_EQ(vcserver::openStore(at, 1)->load("V1").comments.size(), 1u);
    const Ran forced = run({"lookup", "remove", "--db", at, "type", "1", "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.out.find("deleted the 1 comment that used it"), std::string::npos)
        << forced.out;
    const auto after = vcserver::openStore(at, 1)->load("V1");
    EXPECT_TRUE(after.comments.empty());
    const auto kept = vcserver::openStore(at, 1)->history("V1", std::nullopt);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].change + " " + kept[0].comment.comment, "deleted kept");
    EXPECT_TRUE(after.types.empty());
}

// A new database records the program's version; one from before versions (the same tables, no
// version) is taken as version 1 and brought up to date; one of a newer version is refused
// with one line.
TEST_P(Admin, SchemaVersionIsRecordedAndANewerOneRefused) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    const bool sqlite = GetParam() == StoreKind::Sqlite;
    const std::string readVersion =
        sqlite ? "PRAGMA user_version" : "SELECT Version FROM SchemaVersion";
    const auto version = [&] {
        if (!sqlite) {
            return db->exec(readVersion);
        }
        sqlite3* raw = nullptr;
        sqlite3_open(db->location().c_str(), &raw);
        std::string out;
        sqlite3_exec(
            raw, readVersion.c_str(),
            [](void* o, int, char** v, char**) {
                *static_cast<std::string*>(o) = std::string(v[0]) + "|\n";
                return 0;
            },
            &out, nullptr);
        sqlite3_close(raw);
        return out;
    };
    const std::string current = std::to_string(vcserver::kSchemaVersion);
    vcserver::openStore(db->location(), 1);
    EXPECT_EQ(version(), current + "|\n");

    db->exec(sqlite ? "PRAGMA user_version = 0; DROP TABLE VendorCommentHistory"
                    : "DROP TABLE SchemaVersion; DROP TABLE VendorCommentHistory");
    vcserver::openStore(db->location(), 1);
    EXPECT_EQ(version(), current + "|\n");

    const std::string newer = std::to_string(vcserver::kSchemaVersion + 1);
    db->exec(sqlite ? "PRAGMA user_version = " + newer
                    : "UPDATE SchemaVersion SET Version = " + newer);
    const Ran r = run({"lookup", "list", "--db", db->location(), "type"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("schema version " + newer + ", newer than this program's " + current),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

// Every update and delete keeps the comment as it was, newest first, with who did what;
// restore brings back a deleted comment or an older text and is kept itself, unless the
// sequence went to another comment since; pruning drops the old entries.
TEST_P(Admin, HistoryKeepsEveryChangeAndRestoreBringsItBack) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    const std::string at = db->location();
    using vcserver::ExecResult;
    const auto fields = [](const char* text) {
        return vcserver::CommentFields{1, 7, std::nullopt, std::nullopt, text};
    };
    {
        auto store = vcserver::openStore(at, 1);
        store->addLookup(vcserver::LookupKind::Type, 1, "General");
        store->addLookup(vcserver::LookupKind::Location, 7, "Dock");
        const struct {
            vcserver::Statement statement;
            const char* by;
            ExecResult::Outcome outcome;
        } changes[] = {
            {insertOf("V1", 1, 7, "first"), "10.0.0.5", ExecResult::Outcome::Done},
            {insertOf("V1", 1, 7, "two"), "10.0.0.5", ExecResult::Outcome::Done},
            {vcserver::UpdateComment{"V1", 1, fields("second")}, "alice",
             ExecResult::Outcome::Done},
            {vcserver::DeleteComment{"V1", 1}, "bob", ExecResult::Outcome::Done},
            {vcserver::UpdateComment{"V1", 1, fields("x")}, "alice", ExecResult::Outcome::Refused},
            {vcserver::DeleteComment{"V1", 2}, "bob", ExecResult::Outcome::Done},
            {insertOf("V1", 1, 7, "new"), "10.0.0.5", ExecResult::Outcome::Done}, // takes 1
            {vcserver::UpdateComment{"V1", 1, fields("newer")}, "alice", ExecResult::Outcome::Done},
        };
        for (const auto& c : changes) {
            EXPECT_EQ(store->execute(c.statement, c.by).outcome, c.outcome);
        }
    }
    // Entries a day apart, for --at and --prune-before.
    db->exec(
        GetParam() == StoreKind::Sqlite
            ? "UPDATE VendorCommentHistory SET Changed = '2020-01-0' || Entry || ' 12:00:00.000'"
            : "UPDATE VendorCommentHistory SET Changed = CAST('2020-01-0' || Entry || "
              "' 12:00:00+00' AS timestamptz)");
    const std::string v1[] = {"--db", at, "--vendor", "V1"};
    const auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, std::begin(v1), std::end(v1));
        return args;
    };
    const struct {
        std::vector<std::string> args;
        int status;
        std::string said; // all of standard output when 0, a part of standard error otherwise
    } steps[] = {
        {with({"history"}), 0,
         "2020-01-04 12:00:00.000\tupdated\talice\t1\t1\t7\t-\t-\tnew\n"
         "2020-01-03 12:00:00.000\tdeleted\tbob\t2\t1\t7\t-\t-\ttwo\n"
         "2020-01-02 12:00:00.000\tdeleted\tbob\t1\t1\t7\t-\t-\tsecond\n"
         "2020-01-01 12:00:00.000\tupdated\talice\t1\t1\t7\t-\t-\tfirst\n"},
        {with({"history", "--sequence", "9"}), 0, ""},
        {with({"restore", "--sequence", "1", "--at", "2020-01-02 12:00"}), 1,
         "comment 1 of vendor V1 was deleted since and another comment has its sequence now"},
        {with({"restore", "--sequence", "1"}), 0,
         "restored comment 1 of vendor V1 as it was before it was updated at "
         "2020-01-04 12:00:00.000\n"},
        {with({"restore", "--sequence", "2"}), 0,
         "restored comment 2 of vendor V1 as it was before it was deleted at "
         "2020-01-03 12:00:00.000\n"},
        {with({"restore", "--sequence", "2", "--at", "2020-01-01"}), 1,
         "comment 2 of vendor V1 has no history at or before 2020-01-01"},
        {{"history", "--db", at, "--prune-before", "2020-01-03"},
         0,
         "pruned 2 entries older than 2020-01-03\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[0] + " " + step.args.back());
        const Ran r = run(step.args);
        EXPECT_EQ(r.status, step.status) << r.err;
        if (step.status == 0) {
            EXPECT_EQ(r.out, step.said);
        } else {
            EXPECT_NE(r.err.find(step.said), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        }
    }
    const Ran json = run(with({"history", "--sequence", "1", "--json"}));
    EXPECT_EQ(json.out.front(), '[') << json.out;
    EXPECT_LT(json.out.find("\"comment\":\"newer\""), json.out.find("\"comment\":\"new\""))
        << json.out;
    auto store = vcserver::openStore(at, 1);
    const auto comments = store->load("V1").comments;
    ASSERT_EQ(comments.size(), 2u);
    EXPECT_EQ(comments[0].comment, "new");
    EXPECT_EQ(comments[1].comment, "two");
    const auto kept = store->history("V1", std::nullopt);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0].change, "restored");
    EXPECT_EQ(kept[0].comment.comment, "two");   // what the restore brought back
    EXPECT_EQ(kept[1].comment.comment, "newer"); // what the restore overwrote
    EXPECT_FALSE(kept[1].changedBy.empty());
}

// One file with every kind of bad row: nothing goes in, and each is named by its line. The
// good rows alone go in, sequences allocated after the vendor's own; the export read back
// into a fresh database gives the same tables.
TEST_P(Admin, ImportIsAllOrNothingAndExportReadsBack) {
    const auto db = makeDatabase(GetParam());
    ASSERT_TRUE(db);
    TempDir dir;
    {
        auto store = vcserver::openStore(db->location(), 1);
        store->addLookup(vcserver::LookupKind::Type, 1, "General");
        store->addLookup(vcserver::LookupKind::Location, 7, "Dock");
        store->execute(insertOf("V1", 1, 7, "already there"), "test");
    }
    const std::string header = "VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,"
                               "RecordLastUpdated\r\n";
    const std::string good = "V1,,general,Dock,4/1/2009,,\"two\r\nlines, \"\"quoted\"\"\",\r\n"
                             "V2,5,1,7,,2010-12-31,caf\xC3\xA9,2009-03-23 10:15:00\r\n"
                             "V2,,1,7,,,next after 5,\r\n";
    const std::pair<const char*, const char*> bad[] = {
        {"V1,1,1,7,,,dup,\r\n", "vendor V1 already has comment 1"},
        {"V3,,9,7,,,x,\r\n", "no comment type '9'"},
        {"V3,,1,Attic,,,x,\r\n", "no comment location 'Attic'"},
        {"V3,,1,7,12/31/1752,,x,\r\n", "the effective date '12/31/1752' is not a readable date"},
        {"V3,,1,7,,2/30/2009,x,\r\n", "the expires date '2/30/2009'"},
        {"V 3,,1,7,,,x,\r\n", "the vendor key 'V 3' is not made of"},
        {"NULL,,1,7,,,x,\r\n", "the vendor key may not be Null"},
        {"V3,x,1,7,,,x,\r\n", "the comment sequence 'x' is not a whole number"},
        {"V3,,1,7,,,x\"y\",\r\n", "malformed CSV: a quote inside unquoted field 7"},
        {"V3,,1,7,,,x\r\n", "the row has 7 fields, the header 8"},
        {"V3,,1,7,,,x,yesterday\r\n", "the last-updated time 'yesterday'"},
        {"V3,,1,7,,,\x01,\r\n", "the comment holds a control character"},
    };
    std::string badFile = header + good;
    std::vector<std::string> expected;
    std::size_t line = 6; // the header, three good rows, one of them on two lines
    for (const auto& [row, reason] : bad) {
        badFile += row;
        expected.push_back("line " + std::to_string(line++) + ": " + reason);
    }
    badFile += "V3,,1,7,,,\"" + std::string(32'001, 'x') + "\",\r\n";
    expected.push_back("line " + std::to_string(line++) + ": the comment has 32001 characters");
    // A huge name is quoted in part, so the refusal stays a line.
    badFile += "V3,," + std::string(5'000'000, 'y') + ",7,,,x,\r\n";
    expected.push_back("line " + std::to_string(line) + ": no comment type '" +
                       std::string(80, 'y') + "...' (by code or name)");
    std::ofstream(dir.path() / "bad.csv", std::ios::binary) << badFile;
    std::ofstream(dir.path() / "good.csv", std::ios::binary) << header + good;

    // A count of one reads in the singular, none and many in the plural; V1 holds one
    // comment here.
    const auto csv = [&](const std::string& name, const std::string& rows) {
        std::ofstream(dir.path() / name, std::ios::binary) << header + rows;
        return (dir.path() / name).string();
    };
    std::string badRows;
    for (int i = 0; i < 101; ++i) {
        badRows += "V3,,9,7,,,x,\r\n";
    }
    const std::string one = csv("one.csv", "V3,,1,7,,,x,\r\n");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string said; // a part of what the command writes
    } counts[] = {
        {{"export", "--db", db->location(), "--vendor", "V1"}, 0, "exported 1 comment\n"},
        {{"export", "--db", db->location(), "--vendor", "V9"}, 0, "exported 0 comments\n"},
        {{"import", "--db", db->location(), one, "--dry-run"},
         0,
         "would import 1 comment from " + one + " (dry run"},
        {{"import", "--db", db->location(), csv("short.csv", "V3\r\n")},
         1,
         "line 2: the row has 1 field, the header 8\n"
         "vendor-comment-server import: 1 of 1 row refused; nothing was imported\n"},
        {{"import", "--db", db->location(), csv("many.csv", badRows)},
         1,
         "... and 1 more refused row\nvendor-comment-server import: 101 of 101 rows refused"},
    };
    for (const auto& c : counts) {
        SCOPED_TRACE(c.said);
        const Ran r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    }

    const std::string before = db->snapshot();
    const Ran refused = run({"import", "--db", db->location(), (dir.path() / "bad.csv").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_LT(refused.err.size(), 10'000u);
    for (const auto& e : expected) {
        EXPECT_NE(refused.err.find(e), std::string::npos) << e << "\n" << refused.err;
    }
    EXPECT_NE(refused.err.find("14 of 17 rows refused; nothing was imported"), std::string::npos)
        << refused.err;
    const Ran dry =
        run({"import", "--db", db->location(), (dir.path() / "good.csv").string(), "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("would import 3 comments"), std::string::npos) << dry.out;
    EXPECT_EQ(db->snapshot(), before);

    const Ran done = run({"import", "--db", db->location(), (dir.path() / "good.csv").string()});
    EXPECT_EQ(done.status, 0) << done.err;
    auto store = vcserver::openStore(db->location(), 1);
    const auto v1 = store->load("V1").comments;
    ASSERT_EQ(v1.size(), 2u);
    EXPECT_EQ(v1[1].sequence, 2);
    EXPECT_EQ(v1[1].effective, "2009-04-01");
    EXPECT_EQ(v1[1].comment, "two\r\nlines, \"quoted\"");
    const auto v2 = store->load("V2").comments;
    ASSERT_EQ(v2.size(), 2u);
    EXPECT_EQ(v2[0].sequence, 5);
    EXPECT_EQ(v2[0].comment, "caf\xC3\xA9");
    EXPECT_EQ(v2[1].sequence, 6);

    const Ran exported = run({"export", "--db", db->location()});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("V2,5,1,7,,2010-12-31,caf\xC3\xA9,2009-03-23 10:15:00.000"),
              std::string::npos)
        << exported.out;
    std::ofstream(dir.path() / "export.csv", std::ios::binary) << exported.out;
    const auto copy = makeDatabase(GetParam());
    ASSERT_TRUE(copy);
    {
        auto fresh = vcserver::openStore(copy->location(), 1);
        fresh->addLookup(vcserver::LookupKind::Type, 1, "General");
        fresh->addLookup(vcserver::LookupKind::Location, 7, "Dock");
    }
    const Ran back =
        run({"import", "--db", copy->location(), (dir.path() / "export.csv").string()});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(copy->snapshot(), db->snapshot());
}

// For a spreadsheet, every field that would start a formula gets an apostrophe, and so does
// one whose own leading apostrophes come before such a character; import --for-spreadsheet
// takes exactly those off again, so every comment, real apostrophes included, comes back.
TEST_P(Admin, SpreadsheetExportRunsNoFormulaAndReadsBack) {
    const std::pair<std::string, std::string> comments[] = {
        // as stored, as the spreadsheet export writes it
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+49 30 1234", "'+49 30 1234"},
        {"-5 pieces", "'-5 pieces"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tindented", "'\tindented"},
        {"\r\nafter a line break", "\"'\r\nafter a line break\""},
        {"'tis the season", "'tis the season"},
        {"'=a real apostrophe", "''=a real apostrophe"},
        {"''+two of them", "'''+two of them"},
        {"a=b", "a=b"},
    };
    const auto db = makeDatabase(GetParam());
    const auto copy = makeDatabase(GetParam());
    ASSERT_TRUE(db && copy);
    for (const auto& at : {db->location(), copy->location()}) {
        auto store = vcserver::openStore(at, 1);
        store->addLookup(vcserver::LookupKind::Type, -3, "Minus");
        store->addLookup(vcserver::LookupKind::Location, 7, "Dock");
    }
    {
        auto store = vcserver::openStore(db->location(), 1);
        for (const auto& [comment, written] : comments) {
            ASSERT_EQ(store->execute(insertOf("-V", -3, 7, comment), "test").outcome,
                      vcserver::ExecResult::Outcome::Done);
        }
    }
    const Ran exported = run({"export", "--db", db->location(), "--for-spreadsheet"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    for (std::size_t i = 0; i < std::size(comments); ++i) {
        const std::string row =
            "\r\n'-V," + std::to_string(i + 1) + ",'-3,7,,," + comments[i].second + ",";
        EXPECT_NE(exported.out.find(row), std::string::npos) << row << "\n" << exported.out;
    }
    TempDir dir;
    std::ofstream(dir.path() / "sheet.csv", std::ios::binary) << exported.out;
    const Ran back = run({"import", "--db", copy->location(), (dir.path() / "sheet.csv").string(),
                          "--for-spreadsheet"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(copy->snapshot(), db->snapshot());
}

INSTANTIATE_TEST_SUITE_P(Store, Admin, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         [](const auto& info) { return std::string(storeName(info.param)); });

// A mistyped --db is refused by every command that only reads or changes a database, in
// one line, and no file is left behind; the commands that set one up make it.
TEST(AdminDatabase, OnlyTheCommandsThatSetUpADatabaseMakeOne) {
    TempDir dir;
    const std::string typo = (dir.path() / "typo.db").string();
    const std::string csv = (dir.path() / "rows.csv").string();
    std::ofstream(csv) << "VendorID,CommentSequence,Type,Location,Effective,Expires,Comment\n";
    const std::vector<std::string> commands[] = {
        {"lookup", "list", "--db", typo, "type"},
        {"lookup", "rename", "--db", typo, "type", "1", "X"},
        {"lookup", "remove", "--db", typo, "type", "1", "--force"},
        {"export", "--db", typo},
        {"backup", "--db", typo, (dir.path() / "copy.db").string()},
        {"history", "--db", typo, "--vendor", "V1"},
        {"restore", "--db", typo, "--vendor", "V1", "--sequence", "1"},
        {"lookup", "add", "--db", typo, "type", "1", "General"},
        {"import", "--db", (dir.path() / "fresh.db").string(), csv},
    };
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const bool setsUp = args[1] == "add" || args[0] == "import";
        const Ran r = run(args);
        EXPECT_EQ(r.status, setsUp ? 0 : 1) << r.err;
        if (!setsUp) {
            EXPECT_EQ(r.err, "vendor-comment-server " + args[0] + ": there is no database file '" +
                                 typo + "' (lookup add, import and the server make one)\n");
            EXPECT_FALSE(std::filesystem::exists(typo));
        }
    }
    EXPECT_TRUE(std::filesystem::exists(typo));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "fresh.db"));
}

// A refusal quotes at most 80 characters of the value it refuses, UTF-8 characters kept
// whole, however long the value: on the command line (whose words hold at most 128 KiB) and
// in a CSV file of 10 MB lines.
TEST(AdminRefusals, QuoteAtMostEightyCharactersOfAValue) {
    TempDir dir;
    const std::string db = (dir.path() / "comments.db").string();
    const std::string word(100'000, 'x');
    std::string accents;
    for (int i = 0; i < 50'000; ++i) {
        accents += "\xC3\xA9";
    }
    const std::string line(10'000'000, '7');
    const auto csv = [&](const std::string& name, const std::string& text) {
        const auto file = dir.path() / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    };
    const std::string header = "VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,"
                               "RecordLastUpdated\r\n";
    const struct {
        const char* site;
        std::vector<std::string> args;
        std::string shown; // what the refusal quotes before "..."
    } cases[] = {
        {"lookup action", {"lookup", word, "--db", db}, std::string(80, 'x')},
        {"lookup kind", {"lookup", "list", "--db", db, accents}, accents.substr(0, 160)},
        {"lookup code", {"lookup", "remove", "--db", db, "type", word}, std::string(80, 'x')},
        {"export operand", {"export", "--db", db, word}, std::string(80, 'x')},
        {"unknown option", {"backup", "--" + word}, "--" + std::string(78, 'x')},
        {"server operand", {word}, std::string(80, 'x')},
        {"listen address", {"--listen", word}, std::string(80, 'x')},
        {"log format", {"--log-format", accents}, accents.substr(0, 160)},
        {"CSV sequence",
         {"import", "--db", db, csv("sequence.csv", header + "V1," + line + ",1,1,,,x,\r\n")},
         std::string(80, '7')},
        {"CSV last updated",
         {"import", "--db", db, csv("updated.csv", header + "V1,,1,1,,,x," + line + "\r\n")},
         std::string(80, '7')},
        {"CSV column",
         {"import", "--db", db, csv("header.csv", line + "\r\n")},
         std::string(80, '7')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.site);
        const Ran r = run(c.args);
        EXPECT_NE(r.status, 0);
        const std::string refusal = r.err.substr(0, r.err.find('\n'));
        EXPECT_NE(refusal.find("'" + c.shown + "...'"), std::string::npos)
            << refusal.substr(0, 300);
        EXPECT_LT(refusal.size(), 300u);
        EXPECT_LT(r.err.size(), 5000u); // the usage included
    }
}

// A backup taken while eight clients insert opens, passes integrity_check and holds every
// comment acknowledged before it began; the database, its log and the copy are private.
TEST(AdminBackup, CopyTakenWhileClientsInsertHoldsEveryAcknowledgedComment) {
    TempDir dir;
    const auto file = dir.path() / "comments.db";
    const auto copy = dir.path() / "copy.db";
    auto store = vcserver::openSqliteStore(file);
    store->addLookup(vcserver::LookupKind::Type, 1, "General");
    store->addLookup(vcserver::LookupKind::Location, 1, "Dock");

    std::mutex mutex;
    std::condition_variable more;
    std::vector<std::pair<std::string, std::int64_t>> acknowledged;
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i) {
        clients.emplace_back([&, i] {
            const std::string vendor = "V" + std::to_string(i);
            while (!stop) {
                const auto r =
                    store->execute(insertOf(vendor, 1, 1, std::string(200, 'c')), "test");
                if (r.outcome == vcserver::ExecResult::Outcome::Done) {
                    std::lock_guard lock(mutex);
                    acknowledged.emplace_back(vendor, r.sequence);
                    more.notify_all();
                }
            }
        });
    }
    const auto waitFor = [&](std::size_t count) {
        std::unique_lock lock(mutex);
        more.wait(lock, [&] { return acknowledged.size() >= count; });
        return acknowledged;
    };
    waitFor(2000);
    const auto before = waitFor(0);
    const Ran r = run({"backup", "--db", file.string(), copy.string()});
    const std::size_t during = waitFor(0).size() - before.size();
    stop = true;
    for (auto& c : clients) {
        c.join();
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(during, 0u) << "no insert was acknowledged while the backup ran";

    // The database, its log and index, and the copy: nothing else left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(copy.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::string integrity;
    std::set<std::pair<std::string, std::int64_t>> held;
    sqlite3_exec(
        raw, "PRAGMA integrity_check",
        [](void* o, int, char** v, char**) {
            *static_cast<std::string*>(o) += v[0];
            return 0;
        },
        &integrity, nullptr);
    sqlite3_exec(
        raw, "SELECT VendorID, CommentSequence FROM VendorComment",
        [](void* o, int, char** v, char**) {
            static_cast<std::set<std::pair<std::string, std::int64_t>>*>(o)->emplace(
                v[0], std::stoll(v[1]));
            return 0;
        },
        &held, nullptr);
    sqlite3_close(raw);
    EXPECT_EQ(integrity, "ok");
    std::size_t missing = 0;
    for (const auto& comment : before) {
        missing += held.contains(comment) ? 0 : 1;
    }
    EXPECT_EQ(missing, 0u);
    RecordProperty("acknowledged_before_backup", static_cast<int>(before.size()));
    RecordProperty("acknowledged_during_backup", static_cast<int>(during));
    RecordProperty("rows_in_copy", static_cast<int>(held.size()));
    for (const auto& f : {file, std::filesystem::path(file.string() + "-wal"),
                          std::filesystem::path(file.string() + "-shm"), copy}) {
        struct stat st {};
        ASSERT_EQ(stat(f.c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
}

// A disk that fills during the copy: one line, the old copy untouched, nothing left beside it.
TEST(AdminBackup, FullDiskLeavesTheOldCopyAndNoTemporaryFile) {
    TempDir dir;
    const auto file = dir.path() / "comments.db";
    const auto copy = dir.path() / "copy.db";
    {
        auto store = vcserver::openSqliteStore(file);
        store->addLookup(vcserver::LookupKind::Type, 1, "General");
    }
    std::ofstream(copy) << "old copy";
    static std::atomic<int> writes{0};
    vcserver::registerFilteredVfs(
        "backup-full", sqlite3_vfs_find(nullptr),
        [](vcserver::FileOp op, int, const std::function<int()>& proceed) {
            return op == vcserver::FileOp::Write && ++writes > 1 ? SQLITE_FULL : proceed();
        },
        false);
    try {
        vcserver::backupSqlite(file, copy, "backup-full");
        ADD_FAILURE() << "the copy did not fail";
    } catch (const vcserver::StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("full"), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(copy), "old copy");
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"comments.db", "copy.db"}));
}

} // namespace
