#pragma once

// A fresh database for one test or benchmark, on either store.
//
// PostgreSQL: VC_TEST_POSTGRES names a cluster by a libpq URI whose role may create schemas
// and roles (scripts/with-test-postgres starts one and sets it). Each database is a schema of
// its own, reached through the URI's search_path; it and the roles made for it are dropped
// afterwards.

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace vctest {

enum class StoreKind { Sqlite, Postgres };

inline const char* storeName(StoreKind kind) {
    return kind == StoreKind::Sqlite ? "Sqlite" : "Postgres";
}

// How GoogleTest shows a parameter.
inline void PrintTo(StoreKind kind, std::ostream* out) {
    *out << storeName(kind);
}

inline std::string randomHex() {
    std::random_device rd;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%08x%08x", rd(), rd());
    return buf;
}

// A directory under the system temp folder, removed with its contents.
class TempDir {
public:
    TempDir() : path_(std::filesystem::temp_directory_path() / ("vc-server-test-" + randomHex())) {
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

const char* const kSnapshotQueries[] = {
    "SELECT * FROM VendorComment ORDER BY VendorID, CommentSequence",
    "SELECT * FROM CommentType ORDER BY Code", "SELECT * FROM CommentLocation ORDER BY Code"};

// Every row of the three tables of an SQLite file as text.
inline std::string sqliteSnapshot(const std::string& file) {
    std::string out;
    sqlite3* raw = nullptr;
    sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    for (const char* sql : kSnapshotQueries) {
        sqlite3_exec(
            raw, sql,
            [](void* o, int n, char** values, char**) {
                auto& s = *static_cast<std::string*>(o);
                for (int i = 0; i < n; ++i) {
                    s += values[i] ? values[i] : "NULL";
                    s += '|';
                }
                s += '\n';
                return 0;
            },
            &out, nullptr);
        out += "--\n";
    }
    sqlite3_close(raw);
    return out;
}

// One libpq connection; throws std::runtime_error when a statement fails.
class PgSession {
public:
    explicit PgSession(const std::string& uri) : c_(PQconnectdb(uri.c_str())) {
        if (PQstatus(c_) != CONNECTION_OK) {
            const std::string error = PQerrorMessage(c_);
            PQfinish(c_);
            throw std::runtime_error("cannot connect to the test PostgreSQL: " + error);
        }
        PQsetNoticeProcessor(
            c_, [](void*, const char*) {}, nullptr);
    }
    ~PgSession() { PQfinish(c_); }
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    // Every row of the statement's answer as "v|v|...|\n", NULL for a null value.
    std::string query(const std::string& sql) const {
        PGresult* r = PQexec(c_, sql.c_str());
        const auto status = PQresultStatus(r);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            const std::string error = PQresultErrorMessage(r);
            PQclear(r);
            throw std::runtime_error(sql + ": " + error);
        }
        std::string out;
        for (int row = 0; row < PQntuples(r); ++row) {
            for (int col = 0; col < PQnfields(r); ++col) {
                out += PQgetisnull(r, row, col) ? "NULL" : PQgetvalue(r, row, col);
                out += '|';
            }
            out += '\n';
        }
        PQclear(r);
        return out;
    }

private:
    PGconn* c_;
};

class TestDatabase {
public:
    explicit TestDatabase(StoreKind kind) : kind_(kind) {
        if (kind == StoreKind::Sqlite) {
            dir_ = std::make_unique<TempDir>();
            location_ = (dir_->path() / "comments.db").string();
            return;
        }
        const char* admin = std::getenv("VC_TEST_POSTGRES");
        if (!admin || !*admin) {
            throw std::runtime_error(
                "VC_TEST_POSTGRES is not set. The PostgreSQL store's tests need a cluster: run "
                "them through scripts/test (or scripts/with-test-postgres ctest), or set it to "
                "the URI of a role that may create schemas and roles.");
        }
        admin_ = admin;
        schema_ = "vct_" + randomHex();
        PgSession(admin_).query("CREATE SCHEMA " + schema_);
        location_ = inSchema(admin_);
    }

    ~TestDatabase() {
        if (schema_.empty()) {
            return;
        }
        try {
            PgSession admin(admin_);
            admin.query("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
            for (const auto& role : roles_) {
                admin.query("DROP ROLE IF EXISTS " + role);
            }
        } catch (const std::exception&) {
            // A cluster already gone takes its schemas with it.
        }
    }

    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    StoreKind kind() const { return kind_; }

    // What --db takes: the SQLite file, or the PostgreSQL URI.
    const std::string& location() const { return location_; }

    // Every row of the three tables as text (dates yyyy-mm-dd), to compare before and after.
    std::string snapshot() const {
        if (kind_ == StoreKind::Postgres) {
            std::string out;
            PgSession session(location_);
            session.query("SET DateStyle = ISO");
            for (const char* sql : kSnapshotQueries) {
                out += session.query(sql) + "--\n";
            }
            return out;
        }
        return sqliteSnapshot(location_);
    }

    // Runs SQL in this database as the administrator.
    std::string exec(const std::string& sql) const {
        if (kind_ == StoreKind::Postgres) {
            return PgSession(location_).query(sql);
        }
        sqlite3* raw = nullptr;
        sqlite3_open(location_.c_str(), &raw);
        char* error = nullptr;
        const int rc = sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &error);
        const std::string message = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(raw);
        if (rc != SQLITE_OK) {
            throw std::runtime_error(sql + ": " + message);
        }
        return {};
    }

    // PostgreSQL: a login role, dropped with the database; with rights it may create and use
    // tables in this database's schema. Returns the role's name.
    std::string createRole(const std::string& password, bool withRights) {
        const std::string role = schema_ + "_r" + std::to_string(roles_.size());
        PgSession admin(admin_);
        admin.query("CREATE ROLE " + role + " LOGIN PASSWORD '" + password + "'");
        roles_.push_back(role);
        if (withRights) {
            admin.query("GRANT USAGE, CREATE ON SCHEMA " + schema_ + " TO " + role);
        }
        return role;
    }

    // PostgreSQL: the URI of this database for a role and password, or of another database
    // on the same cluster.
    std::string uriFor(const std::string& user, const std::string& password,
                       const std::string& dbname = {}) const {
        PQconninfoOption* options = PQconninfoParse(admin_.c_str(), nullptr);
        std::string host = "127.0.0.1", port = "5432", db = "postgres";
        for (auto* o = options; o && o->keyword; ++o) {
            if (!o->val) {
                continue;
            }
            const std::string key = o->keyword;
            if (key == "host") {
                host = o->val;
            } else if (key == "port") {
                port = o->val;
            } else if (key == "dbname") {
                db = o->val;
            }
        }
        PQconninfoFree(options);
        return inSchema("postgresql://" + user + ":" + password + "@" + host + ":" + port + "/" +
                        (dbname.empty() ? db : dbname));
    }

private:
    std::string inSchema(const std::string& uri) const {
        return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" +
               schema_;
    }

    StoreKind kind_;
    std::unique_ptr<TempDir> dir_;
    std::string admin_;
    std::string schema_;
    std::string location_;
    std::vector<std::string> roles_;
};

// A database for a test, or null after a failure that says why (no PostgreSQL cluster).
inline std::unique_ptr<TestDatabase> makeDatabase(StoreKind kind) {
    try {
        return std::make_unique<TestDatabase>(kind);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return nullptr;
    }
}

} // namespace vctest
