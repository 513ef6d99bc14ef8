#include "store/StoreEngine.h"

#include "common/Text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <random>
#include <set>
#include <string_view>

namespace vcserver {

namespace {

constexpr const char* kHistoryTable = "VendorCommentHistory";

const TableDef& tableNamed(std::string_view name) {
    const auto& tables = storeTables();
    return *std::find_if(tables.begin(), tables.end(),
                         [&](const TableDef& t) { return name == t.name; });
}

// The steps from each schema version to the next: kMigrations[v - 1] takes a database of
// version v to v + 1, in the transaction that records the new version.
using Migration = void (*)(SqlSession&, const StoreEngine&);
const std::array<Migration, kSchemaVersion - 1> kMigrations = {
    [](SqlSession& s, const StoreEngine& e) {
        s.script(createTable(tableNamed(kHistoryTable), e, false));
    },
    // The change versions, so caches of load documents can tell they are still current.
    [](SqlSession& s, const StoreEngine&) {
        s.script("CREATE TABLE IF NOT EXISTS ChangeVersion (Scope TEXT PRIMARY KEY, Version "
                 "BIGINT NOT NULL)");
    },
};

// ChangeVersion's scopes; a vendor's is "vendor " and its key, so no key names another.
constexpr const char* kDatabaseScope = "database";
constexpr const char* kLookupsScope = "lookups";

std::string vendorScope(const std::string& vendor) {
    return "vendor " + vendor;
}

constexpr const char* kBusy = "The database is busy; try again.";

const char* lookupColumn(LookupKind kind) {
    return kind == LookupKind::Type ? "Type" : "Location";
}

// "type 3 (Billing)"
std::string entryName(LookupKind kind, std::int64_t code, const std::string& name) {
    return std::string(lookupKindName(kind)) + " " + std::to_string(code) + " (" +
           tavik::common::excerpt(name) + ")";
}

std::string noEntry(LookupKind kind, std::int64_t code) {
    return std::string("there is no ") + lookupKindName(kind) + " " + std::to_string(code);
}

SqlValue dateValue(const std::optional<CalendarDate>& date) {
    return date ? SqlValue(isoDate(*date)) : SqlValue();
}

SqlValue textOrNull(const std::string& text) {
    return text.empty() ? SqlValue() : SqlValue(text);
}

std::string capitalized(std::string text) {
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    return text;
}

// A statement the data does not allow; its answer is the message.
struct Refused {
    std::string message;
};

// The statements of the store, written once in the engine's dialect.
struct Sql {
    explicit Sql(const StoreEngine& e)
        : locations("SELECT Code, Name FROM CommentLocation ORDER BY " + byName(e)),
          types("SELECT Code, Name FROM CommentType ORDER BY " + byName(e)),
          // As few columns as the document needs, since a large one reads them all: the
          // names come from the lookup lists read in the same snapshot, and a Null date
          // reads as empty. The key is read as stored only where a table made elsewhere may
          // hold it otherwise than it was asked for (padded, in another case).
          comments(commentsOf(e, "VendorID")), commentsOfTheKey(commentsOf(e, "NULL")),
          // GETDATE() is the server's local time; an imported comment keeps the time it was
          // last updated elsewhere when the file gives it.
          insert("INSERT INTO VendorComment (VendorID, CommentSequence, Type, Location, "
                 "Effective, Expires, Comment, RecordLastUpdated) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, COALESCE(" +
                 e.timestamp("?8") + ", " + e.now() + "))"),
          update("UPDATE VendorComment SET Type = ?3, Location = ?4, Effective = ?5, "
                 "Expires = ?6, Comment = ?7, RecordLastUpdated = " +
                 e.now() + " WHERE VendorID = ?1 AND CommentSequence = ?2"),
          exported("SELECT VendorID, CommentSequence, Type, Location, COALESCE(" +
                   e.dateText("Effective") + ", ''), COALESCE(" + e.dateText("Expires") +
                   ", ''), Comment, " + e.timestampText("RecordLastUpdated") +
                   " FROM VendorComment"),
          exportOrder(" ORDER BY " + e.bytewise("VendorID") + ", CommentSequence"),
          keepComment(keep(e, "VendorID = ?3 AND CommentSequence = ?4")),
          history("SELECT Entry, " + e.utcText("Changed") + ", ChangedBy, ChangeKind, VendorID, " +
                  "CommentSequence, Type, Location, COALESCE(" + e.dateText("Effective") +
                  ", ''), COALESCE(" + e.dateText("Expires") + ", ''), Comment, " +
                  e.timestampText("RecordLastUpdated") + " FROM " + kHistoryTable +
                  " WHERE VendorID = ?1"),
          before(" AND Changed <= " + e.utcTimestamp("?3")),
          prune(std::string("DELETE FROM ") + kHistoryTable + " WHERE Changed < " +
                e.utcTimestamp("?1")) {}

    // Copies the comments the condition picks (its parameters from ?3 on) into the history,
    // changed now by ?1, the change ?2.
    static std::string keep(const StoreEngine& e, const std::string& where) {
        const std::string columns = "VendorID, CommentSequence, Type, Location, Effective, "
                                    "Expires, Comment, RecordLastUpdated";
        return std::string("INSERT INTO ") + kHistoryTable + " (" + columns +
               ", Changed, ChangedBy, ChangeKind) SELECT " + columns + ", " + e.utcNow() +
               ", CAST(?1 AS TEXT), CAST(?2 AS TEXT) FROM VendorComment WHERE " + where;
    }

    static std::string commentsOf(const StoreEngine& e, const char* key) {
        return std::string("SELECT ") + key + ", CommentSequence, Type, Location, " +
               e.dateText("Effective") + ", " + e.dateText("Expires") +
               ", Comment FROM VendorComment WHERE VendorID = ?1 ORDER BY CommentSequence";
    }

    static std::string byName(const StoreEngine& e) {
        return e.caseFolded("Name") + ", " + e.bytewise("Name") + ", Code";
    }

    const std::string locations;
    const std::string types;
    const std::string comments;
    const std::string commentsOfTheKey; // the key as asked, not read
    const std::string insert;
    const std::string update;
    const std::string exported;
    const std::string exportOrder;
    const std::string keepComment;
    const std::string history; // of a vendor; add the sequence, before, newestFirst
    const std::string before;
    const std::string prune;
    const std::string ofSequence = " AND CommentSequence = ?2";
    const std::string deletedSince = " AND ChangeKind = 'deleted' AND Entry >= ?3";
    const std::string newestFirst = " ORDER BY Entry DESC";
    const std::string remove = "DELETE FROM VendorComment WHERE VendorID = ?1 AND "
                               "CommentSequence = ?2";
    const std::string codes = "SELECT (SELECT COUNT(*) FROM CommentType WHERE Code = ?1), "
                              "(SELECT COUNT(*) FROM CommentLocation WHERE Code = ?2)";
    const std::string count = "SELECT COUNT(*) FROM VendorComment WHERE VendorID = ?1";
    const std::string next =
        "SELECT COALESCE(MAX(CommentSequence), 0) + 1 FROM VendorComment WHERE VendorID = ?1";
    const std::string taken =
        "SELECT 1 FROM VendorComment WHERE VendorID = ?1 AND CommentSequence = ?2";
    const std::string version = std::string("SELECT ") + versionOf("'database'") + ", " +
                                versionOf("'lookups'") + ", " + versionOf("?1");
    const std::string bump =
        "INSERT INTO ChangeVersion (Scope, Version) VALUES (?1, 1) "
        "ON CONFLICT (Scope) DO UPDATE SET Version = ChangeVersion.Version + 1";

    static std::string versionOf(const char* scope) {
        return std::string("COALESCE((SELECT Version FROM ChangeVersion WHERE Scope = ") + scope +
               "), 0)";
    }
};

class SqlCommentStore : public CommentStore {
public:
    explicit SqlCommentStore(std::unique_ptr<StoreEngine> engine)
        : engine_(std::move(engine)), sql_(*engine_) {
        engine_->notices = [this](const std::string& message) { notice(message); };
        try {
            engine_->transact(TransactionKind::Write, [&](SqlSession& s) {
                openSchema(s);
                return true;
            });
        } catch (const EngineFailure& f) {
            throw StoreError(f.detail);
        }
    }

    VendorComments load(const std::string& vendor) override {
        // Keeps the load as it is read.
        struct Copy : LoadReceiver {
            VendorComments out;
            void lookups(std::vector<LookupEntry> locations,
                         std::vector<LookupEntry> types) override {
                out = {std::move(locations), std::move(types), {}};
            }
            void comment(const CommentRow& c) override {
                out.comments.push_back({std::string(c.vendor), c.sequence, c.type, c.location,
                                        std::string(c.effective), std::string(c.expires),
                                        std::string(c.comment)});
            }
        } copy;
        snapshot([&](SqlSession& s) { readLoad(s, vendor, copy); });
        return std::move(copy.out);
    }

    LoadOutcome loadChanged(const std::string& vendor, const std::optional<ChangeVersion>& known,
                            LoadReceiver& receiver) override {
        LoadOutcome out;
        snapshot([&](SqlSession& s) {
            const auto r = s.query(sql_.version, {vendorScope(vendor)});
            r->next();
            out.version = ChangeVersion{r->integer(0), r->integer(1), r->integer(2)};
            out.read = out.version != known;
            if (out.read) {
                readLoad(s, vendor, receiver);
            }
        });
        return out;
    }

    ExecResult execute(const Statement& statement, const std::string& changedBy) override {
        try {
            std::int64_t sequence = 0;
            engine_->transact(TransactionKind::Write, [&](SqlSession& s) {
                sequence = 0;
                if (const auto* ins = std::get_if<InsertComment>(&statement)) {
                    checkCodes(s, ins->fields.type, ins->fields.location);
                    sequence = insertComment(s, ins->vendor, ins->fields);
                } else if (const auto* upd = std::get_if<UpdateComment>(&statement)) {
                    checkCodes(s, upd->fields.type, upd->fields.location);
                    s.lockSequence(upd->vendor);
                    s.change(sql_.keepComment, {changedBy, "updated", upd->vendor, upd->sequence});
                    // Another desk may have deleted the comment meanwhile; saying so beats
                    // reporting a save that changed nothing.
                    if (s.change(sql_.update,
                                 withFields({upd->vendor, upd->sequence}, upd->fields)) == 0) {
                        throw Refused{"comment " + std::to_string(upd->sequence) + " of vendor " +
                                      upd->vendor + " no longer exists"};
                    }
                } else {
                    const auto& del = std::get<DeleteComment>(statement);
                    s.lockSequence(del.vendor);
                    s.change(sql_.keepComment, {changedBy, "deleted", del.vendor, del.sequence});
                    s.change(sql_.remove, {del.vendor, del.sequence});
                }
                bump(s,
                     vendorScope(std::visit([](const auto& st) { return st.vendor; }, statement)));
                return true;
            });
            return {ExecResult::Outcome::Done, {}, sequence};
        } catch (const Refused& r) {
            return {ExecResult::Outcome::Refused, r.message, 0};
        } catch (const EngineFailure& f) {
            return answer(f);
        }
    }

    void renumber() override {
        change(TransactionKind::Write, [&](SqlSession& s) {
            const std::int64_t old =
                single(s, "SELECT Version FROM ChangeVersion WHERE Scope = ?1", {kDatabaseScope});
            s.change("DELETE FROM ChangeVersion WHERE Scope = ?1", {kDatabaseScope});
            numberDatabase(s, old);
            return 0;
        });
    }

    void seed(const DemoData& data) override {
        change(TransactionKind::Write, [&](SqlSession& s) {
            std::int64_t changed = 0;
            for (const auto& [table, entries] : {std::pair{"CommentLocation", &data.locations},
                                                 std::pair{"CommentType", &data.types}}) {
                const std::string sql = std::string("INSERT INTO ") + table +
                                        " (Code, Name) VALUES (?1, ?2) ON CONFLICT DO NOTHING";
                for (const auto& e : *entries) {
                    changed += s.change(sql, {e.code, e.name});
                }
            }
            // Vendors in key order, so two servers seeding at once cannot deadlock.
            std::set<std::string> vendors;
            for (const auto& comment : data.comments) {
                vendors.insert(comment.vendor);
            }
            std::set<std::string> vendorsWithComments;
            for (const auto& vendor : vendors) {
                s.lockSequence(vendor);
                if (single(s, sql_.count, {vendor}) > 0) {
                    vendorsWithComments.insert(vendor);
                }
            }
            for (const auto& c : data.comments) {
                if (!vendorsWithComments.contains(c.vendor)) {
                    insertComment(s, c.vendor,
                                  {c.type, c.location, c.effective, c.expires, c.comment});
                    ++changed;
                }
            }
            // A server starting with --seed-demo on seeded data leaves other servers' kept
            // documents alone.
            if (changed > 0) {
                bump(s, kLookupsScope);
            }
            return 0;
        });
    }

    std::vector<LookupEntry> lookups(LookupKind kind) override {
        return read([&](SqlSession& s) { return readLookup(s, byCode(kind)); });
    }

    void addLookup(LookupKind kind, std::int64_t code, const std::string& name) override {
        change(TransactionKind::Write, [&](SqlSession& s) {
            // Two adds of one code at once: the second waits here and then sees the first.
            s.lockLookups(kind);
            if (const auto found = lookupName(s, kind, code)) {
                throw StoreRefusal(entryName(kind, code, *found) + " already exists");
            }
            s.change(std::string("INSERT INTO ") + lookupTable(kind) +
                         " (Code, Name) VALUES (?1, ?2)",
                     {code, name});
            bump(s, kLookupsScope);
            return 0;
        });
    }

    void renameLookup(LookupKind kind, std::int64_t code, const std::string& name) override {
        change(TransactionKind::Write, [&](SqlSession& s) {
            if (s.change(std::string("UPDATE ") + lookupTable(kind) +
                             " SET Name = ?2 WHERE Code = ?1",
                         {code, name}) == 0) {
                throw StoreRefusal(noEntry(kind, code));
            }
            bump(s, kLookupsScope);
            return 0;
        });
    }

    std::int64_t removeLookup(LookupKind kind, std::int64_t code, bool force,
                              const std::string& changedBy) override {
        return change(TransactionKind::Write, [&](SqlSession& s) {
            // Holds off inserts that would use the entry between the count and the delete.
            s.lockLookups(kind);
            const auto found = lookupName(s, kind, code);
            if (!found) {
                throw StoreRefusal(noEntry(kind, code));
            }
            const std::string where = std::string(" WHERE ") + lookupColumn(kind) + " = ?1";
            const std::int64_t used =
                single(s, "SELECT COUNT(*) FROM VendorComment" + where, {code});
            if (used > 0 && !force) {
                throw StoreRefusal(entryName(kind, code, *found) + " is used by " +
                                   std::to_string(used) + (used == 1 ? " comment" : " comments") +
                                   "; --force removes it and deletes them");
            }
            if (used > 0) {
                s.change(Sql::keep(*engine_, std::string(lookupColumn(kind)) + " = ?3"),
                         {changedBy, "deleted", code});
            }
            s.change("DELETE FROM VendorComment" + where, {code});
            s.change(std::string("DELETE FROM ") + lookupTable(kind) + " WHERE Code = ?1", {code});
            bump(s, kLookupsScope);
            return used;
        });
    }

    ImportOutcome importComments(const std::vector<ImportedComment>& rows, bool dryRun) override {
        return change(
            TransactionKind::Import,
            [&](SqlSession& s) {
                ImportOutcome out;
                s.lockForImport();
                const auto types = readLookup(s, byCode(LookupKind::Type));
                const auto locations = readLookup(s, byCode(LookupKind::Location));
                for (const auto& row : rows) {
                    const auto type = resolveLookup(types, row.type);
                    const auto location = resolveLookup(locations, row.location);
                    if (!type || !location) {
                        out.refused.push_back(
                            {row.line, unknownLookupRefusal(row, type.has_value())});
                        continue;
                    }
                    std::int64_t sequence = 0;
                    if (row.sequence) {
                        if (s.query(sql_.taken, {row.vendor, *row.sequence})->next()) {
                            out.refused.push_back({row.line, takenSequenceRefusal(row)});
                            continue;
                        }
                        sequence = *row.sequence;
                    } else {
                        sequence = single(s, sql_.next, {row.vendor});
                    }
                    s.change(sql_.insert,
                             {row.vendor, sequence, *type, *location, dateValue(row.effective),
                              dateValue(row.expires), row.comment, textOrNull(row.lastUpdated)});
                    ++out.imported;
                }
                // One number for every vendor the file touches, rather than a row lock each.
                bump(s, kLookupsScope);
                return out;
            },
            [&](const ImportOutcome& out) { return !dryRun && out.refused.empty(); });
    }

    void exportComments(const std::optional<std::string>& vendor,
                        const std::function<void(const ExportedComment&)>& row) override {
        read([&](SqlSession& s) {
            const auto r =
                vendor
                    ? s.query(sql_.exported + " WHERE VendorID = ?1" + sql_.exportOrder, {*vendor})
                    : s.query(sql_.exported + sql_.exportOrder, {});
            while (r->next()) {
                row({r->text(0), r->integer(1), r->integer(2), r->integer(3), r->text(4),
                     r->text(5), r->text(6), r->text(7)});
            }
            return 0;
        });
    }

    std::vector<HistoryEntry> history(const std::string& vendor,
                                      std::optional<std::int64_t> sequence) override {
        return read([&](SqlSession& s) {
            return sequence ? readHistory(s, sql_.ofSequence, {vendor, *sequence})
                            : readHistory(s, "", {vendor});
        });
    }

    HistoryEntry restore(const std::string& vendor, std::int64_t sequence, const std::string& at,
                         const std::string& changedBy) override {
        return change(TransactionKind::Write, [&](SqlSession& s) {
            s.lockSequence(vendor);
            const std::string comment = "comment " + std::to_string(sequence) + " of vendor " +
                                        tavik::common::excerpt(vendor);
            const auto chosen = readHistory(
                s, at.empty() ? sql_.ofSequence : sql_.ofSequence + sql_.before,
                at.empty() ? SqlParams{vendor, sequence} : SqlParams{vendor, sequence, at}, true);
            if (chosen.empty()) {
                throw StoreRefusal(
                    comment + " has no history" +
                    (at.empty() ? "" : " at or before " + tavik::common::excerpt(at)));
            }
            // An entry from before the sequence was last deleted belongs to another comment
            // than the one holding it now.
            const bool present = s.query(sql_.taken, {vendor, sequence})->next();
            if (present && !readHistory(s, sql_.ofSequence + sql_.deletedSince,
                                        {vendor, sequence, chosen.front().entry}, true)
                                .empty()) {
                throw StoreRefusal(comment + " was deleted since and another comment has its "
                                             "sequence now; nothing was restored");
            }
            const ExportedComment& c = chosen.front().comment;
            try {
                checkCodes(s, c.type, c.location);
            } catch (const Refused& r) {
                throw StoreRefusal(r.message + " Nothing was restored.");
            }
            const SqlParams key{changedBy, "restored", vendor, sequence};
            SqlParams fields{vendor,
                             sequence,
                             c.type,
                             c.location,
                             textOrNull(c.effective),
                             textOrNull(c.expires),
                             c.comment};
            if (present) {
                s.change(sql_.keepComment, key);
                s.change(sql_.update, fields);
            } else {
                fields.emplace_back();
                s.change(sql_.insert, fields);
                s.change(sql_.keepComment, key);
            }
            bump(s, vendorScope(vendor));
            return chosen.front();
        });
    }

    std::int64_t pruneHistory(const std::string& before) override {
        return change(TransactionKind::Import,
                      [&](SqlSession& s) { return s.change(sql_.prune, {before}); });
    }

private:
    // The vendor's history entries (narrowed by what `where` adds), newest first.
    std::vector<HistoryEntry> readHistory(SqlSession& s, const std::string& where,
                                          const SqlParams& params, bool newestOnly = false) const {
        std::vector<HistoryEntry> entries;
        const auto r = s.query(
            sql_.history + where + sql_.newestFirst + (newestOnly ? " LIMIT 1" : ""), params);
        while (r->next()) {
            entries.push_back({r->integer(0),
                               r->text(1),
                               r->text(2),
                               r->text(3),
                               {r->text(4), r->integer(5), r->integer(6), r->integer(7), r->text(8),
                                r->text(9), r->text(10), r->text(11)}});
        }
        return entries;
    }

    void openSchema(SqlSession& s) {
        // Servers starting together on one database take turns here.
        s.lockSchema();
        const int version = s.schemaVersion();
        if (version > kSchemaVersion) {
            throw StoreError("the database has schema version " + std::to_string(version) +
                             ", newer than this program's " + std::to_string(kSchemaVersion) +
                             "; use the newer program that wrote it");
        }
        // Tables made now are of this version already.
        if (version == 0) {
            s.createTables();
        }
        for (int v = version == 0 ? kSchemaVersion : version; v < kSchemaVersion; ++v) {
            kMigrations[static_cast<std::size_t>(v - 1)](s, *engine_);
        }
        s.checkTables();
        keyAsAsked_ = s.keyComparesBytewise();
        // A database made elsewhere with other columns fails here rather than on use, naming
        // the table.
        for (const auto& [table, sql] :
             {std::pair{"CommentLocation", &sql_.locations}, std::pair{"CommentType", &sql_.types},
              std::pair{"VendorComment", &sql_.comments}, std::pair{"VendorComment", &sql_.insert},
              std::pair{"VendorComment", &sql_.update}, std::pair{"VendorComment", &sql_.remove},
              std::pair{"VendorComment", &sql_.exported},
              std::pair{kHistoryTable, &sql_.keepComment},
              std::pair{kHistoryTable, &sql_.history}}) {
            if (const std::string problem = s.compileProblem(*sql); !problem.empty()) {
                throw StoreError("table " + std::string(table) +
                                 " has other columns than this server uses: " + problem);
            }
        }
        if (version != kSchemaVersion) {
            numberDatabase(s);
            s.recordVersion(version);
        }
    }

    // A database of its own number, so versions read from another never match.
    static void numberDatabase(SqlSession& s, std::int64_t old = 0) {
        std::random_device random;
        std::int64_t number = old;
        while (number == old) {
            number = std::int64_t{random() & 0x7fffffff} + 1;
        }
        s.change(
            "INSERT INTO ChangeVersion (Scope, Version) VALUES (?1, ?2) ON CONFLICT DO NOTHING",
            {kDatabaseScope, number});
    }

    // A request's read in one snapshot.
    void snapshot(const std::function<void(SqlSession&)>& work) {
        try {
            engine_->transact(TransactionKind::Snapshot, [&](SqlSession& s) {
                work(s);
                return true;
            });
        } catch (const EngineFailure& f) {
            if (f.kind == EngineFailure::Kind::Busy) {
                throw StoreBusy(f.sentence.empty() ? kBusy : f.sentence);
            }
            throw StoreError(f.detail);
        }
    }

    void readLoad(SqlSession& s, const std::string& vendor, LoadReceiver& to) const {
        to.lookups(readLookup(s, sql_.locations), readLookup(s, sql_.types));
        const auto r = s.query(keyAsAsked_ ? sql_.commentsOfTheKey : sql_.comments, {vendor});
        while (r->next()) {
            to.comment({keyAsAsked_ ? std::string_view(vendor) : r->view(0), r->integer(1),
                        r->integer(2), r->integer(3), r->view(4), r->view(5), r->view(6)});
        }
    }

    // Moves the scope's version, last in its transaction: the row lock it takes is then
    // never held while waiting for another.
    void bump(SqlSession& s, const std::string& scope) const { s.change(sql_.bump, {scope}); }

    static std::string byCode(LookupKind kind) {
        return std::string("SELECT Code, Name FROM ") + lookupTable(kind) + " ORDER BY Code";
    }

    static std::vector<LookupEntry> readLookup(SqlSession& s, const std::string& sql) {
        std::vector<LookupEntry> entries;
        const auto r = s.query(sql, {});
        while (r->next()) {
            entries.push_back({r->integer(0), r->text(1)});
        }
        return entries;
    }

    static std::optional<std::string> lookupName(SqlSession& s, LookupKind kind,
                                                 std::int64_t code) {
        const auto r = s.query(
            std::string("SELECT Name FROM ") + lookupTable(kind) + " WHERE Code = ?1", {code});
        if (!r->next()) {
            return std::nullopt;
        }
        return r->text(0);
    }

    // The first column of the first row: a count, a next sequence.
    static std::int64_t single(SqlSession& s, const std::string& sql, const SqlParams& params) {
        const auto r = s.query(sql, params);
        return r->next() ? r->integer(0) : 0;
    }

    static SqlParams withFields(SqlParams key, const CommentFields& f) {
        key.insert(key.end(), {std::int64_t{f.type}, std::int64_t{f.location},
                               dateValue(f.effective), dateValue(f.expires), f.comment});
        return key;
    }

    void checkCodes(SqlSession& s, std::int64_t type, std::int64_t location) const {
        const auto r = s.query(sql_.codes, {type, location});
        r->next();
        if (r->integer(0) == 0) {
            throw Refused{"Comment type " + std::to_string(type) + " does not exist."};
        }
        if (r->integer(1) == 0) {
            throw Refused{"Comment location " + std::to_string(location) + " does not exist."};
        }
    }

    // Sequences: the vendor's lock (where the engine needs one) is held from before the
    // highest sequence is read until the commit, so every insert that held it before is seen.
    std::int64_t insertComment(SqlSession& s, const std::string& vendor,
                               const CommentFields& f) const {
        s.lockSequence(vendor);
        const std::int64_t sequence = single(s, sql_.next, {vendor});
        SqlParams params = withFields({vendor, sequence}, f);
        params.emplace_back();
        s.change(sql_.insert, params);
        return sequence;
    }

    static ExecResult answer(const EngineFailure& f) {
        using Kind = EngineFailure::Kind;
        if (!f.sentence.empty()) {
            return {f.kind == Kind::Busy ? ExecResult::Outcome::Busy : ExecResult::Outcome::Failed,
                    f.sentence, 0};
        }
        switch (f.kind) {
        case Kind::Busy:
            return {ExecResult::Outcome::Busy, kBusy, 0};
        case Kind::Refused:
            return {ExecResult::Outcome::Refused,
                    "The statement breaks a rule of the table: " + f.detail + ".", 0};
        case Kind::CommitUnknown:
            return {ExecResult::Outcome::Failed, capitalized(f.detail) + "; " + kMayHaveTakenEffect,
                    0};
        case Kind::Lost:
        case Kind::Other:
            break;
        }
        return {ExecResult::Outcome::Failed, "Database error: " + f.detail + ".", 0};
    }

    // An operator's read in one snapshot.
    template <typename Call> std::invoke_result_t<Call, SqlSession&> read(Call call) {
        try {
            std::optional<std::invoke_result_t<Call, SqlSession&>> result;
            engine_->transact(TransactionKind::Export, [&](SqlSession& s) {
                result = call(s);
                return true;
            });
            return std::move(*result);
        } catch (const EngineFailure& f) {
            throw StoreError(f.detail);
        }
    }

    // An operator's change in one transaction, committed when keep says so.
    template <typename Call>
    std::invoke_result_t<Call, SqlSession&> change(
        TransactionKind kind, Call call,
        const std::function<bool(const std::invoke_result_t<Call, SqlSession&>&)>& keep =
            [](const auto&) { return true; }) {
        try {
            std::optional<std::invoke_result_t<Call, SqlSession&>> result;
            engine_->transact(kind, [&](SqlSession& s) {
                result = call(s);
                return keep(*result);
            });
            return std::move(*result);
        } catch (const EngineFailure& f) {
            if (f.kind == EngineFailure::Kind::Refused) {
                throw StoreRefusal("the change breaks a rule of the table: " + f.detail);
            }
            if (f.kind == EngineFailure::Kind::CommitUnknown) {
                throw StoreError(f.detail + "; the change may or may not have taken effect");
            }
            throw StoreError(f.detail);
        }
    }

    std::unique_ptr<StoreEngine> engine_;
    const Sql sql_;
    bool keyAsAsked_ = false; // the table's key equals only itself: see keyComparesBytewise()
};

} // namespace

const std::vector<TableDef>& storeTables() {
    using enum ColumnType;
    static const std::vector<TableDef> tables = {
        {"CommentType", {{"Code", Integer}, {"Name", Text}}, {"Code"}},
        {"CommentLocation", {{"Code", Integer}, {"Name", Text}}, {"Code"}},
        {"VendorComment",
         {{"VendorID", Text},
          {"CommentSequence", Integer},
          {"Type", Integer, true, "CommentType"},
          {"Location", Integer, true, "CommentLocation"},
          {"Effective", Date, false},
          {"Expires", Date, false},
          {"Comment", Text},
          {"RecordLastUpdated", Timestamp}},
         {"VendorID", "CommentSequence"}},
        // What a comment was before each update and delete; the lookup entries it names may
        // be gone since.
        {kHistoryTable,
         {{"Entry", Serial},
          {"VendorID", Text},
          {"CommentSequence", Integer},
          {"Type", Integer},
          {"Location", Integer},
          {"Effective", Date, false},
          {"Expires", Date, false},
          {"Comment", Text},
          {"RecordLastUpdated", Timestamp},
          {"Changed", Timestamp},
          {"ChangedBy", Text},
          {"ChangeKind", Text}},
         {"Entry"}},
        {"ChangeVersion", {{"Scope", Text}, {"Version", Integer}}, {"Scope"}},
    };
    return tables;
}

std::string createTable(const TableDef& table, const StoreEngine& engine, bool ifMissing) {
    const bool singleKey = table.key.size() == 1;
    std::string sql =
        std::string("CREATE TABLE ") + (ifMissing ? "IF NOT EXISTS " : "") + table.name + " (";
    for (const auto& c : table.columns) {
        sql += std::string(c.name) + " " + engine.columnType(c.type);
        if (singleKey && std::string_view(c.name) == table.key.front()) {
            sql += " PRIMARY KEY";
        } else if (c.required) {
            sql += " NOT NULL";
        }
        if (c.references) {
            sql += std::string(" REFERENCES ") + c.references + " (Code)";
        }
        sql += ", ";
    }
    if (singleKey) {
        sql.resize(sql.size() - 2);
    } else {
        sql += "PRIMARY KEY (";
        for (const char* k : table.key) {
            sql += std::string(k) + (k == table.key.back() ? "" : ", ");
        }
        sql += ")";
    }
    return sql + ")" + engine.tableOptions(table);
}

const char* lookupTable(LookupKind kind) {
    return kind == LookupKind::Type ? "CommentType" : "CommentLocation";
}

std::unique_ptr<CommentStore> openSqlStore(std::unique_ptr<StoreEngine> engine) {
    return std::make_unique<SqlCommentStore>(std::move(engine));
}

} // namespace vcserver
