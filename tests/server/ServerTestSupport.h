#pragma once

#include "TestDatabase.h"

#include "http/CommentServer.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vctest {

// The page in this process on a port of its own on 127.0.0.1, served by a thread of the test
// until it goes.
class RunningServer {
public:
    RunningServer(vcserver::CommentStore& store, std::ostream* log, std::size_t threads = 16,
                  const vcserver::ServerOptions& options = {})
        : server_(store, log, threads, options), port_(server_.bind("127.0.0.1", 0)) {
        if (port_ > 0)
            thread_ = std::thread([this] { server_.run(); });
    }
    ~RunningServer() {
        if (thread_.joinable()) {
            server_.stop();
            thread_.join();
        }
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    // 0 when it could not listen.
    int port() const { return port_; }
    const vcserver::CommentServer& server() const { return server_; }

private:
    vcserver::CommentServer server_;
    int port_;
    std::thread thread_;
};

// The control's form encoding of a Windows-1252 byte string.
inline std::string formEncode(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == ' ') {
            out += '+';
        } else if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                   c == '*' || c == '-' || c == '.' || c == '_') {
            out += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            out += buf;
        }
    }
    return out;
}

// The three statement texts exactly as the control builds them.
inline std::string dateValue(std::string_view date) {
    return date.empty() ? "Null" : " '" + std::string(date) + "' ";
}

inline std::string insertBatch(std::string_view vendor, int type, int location,
                               std::string_view effective, std::string_view expires,
                               std::string_view comment) {
    const std::string v(vendor);
    return " Declare @MaxID  int ; "
           " select @MaxId = (Select Max(CommentSequence) From VendorComment where VendorID = '" +
           v + "'); " + " Set @MaxId = ISNull(@MaxID,0); " +
           " INSERT INTO VendorComment "
           "(VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,RecordLastUpdated)"
           " VALUES " +
           " (" + v + ", @MaxID + 1, " + std::to_string(type) + ", " + std::to_string(location) +
           ", " + dateValue(effective) + ",  " + dateValue(expires) + ", '" + std::string(comment) +
           "',  GETDATE())";
}

inline std::string updateStatement(std::string_view vendor, long sequence, int type, int location,
                                   std::string_view effective, std::string_view expires,
                                   std::string_view comment) {
    return "UPDATE VendorComment  SET Type = " + std::to_string(type) +
           ", Location= " + std::to_string(location) + ", Effective= " + dateValue(effective) +
           ", Expires=  " + dateValue(expires) + ", Comment= '" + std::string(comment) + "'" +
           ", RecordLastUpdated = GETDATE()  WHERE vendorID = " + std::string(vendor) +
           " AND CommentSequence = " + std::to_string(sequence);
}

inline std::string deleteStatement(std::string_view vendor, long sequence) {
    return "DELETE FROM VendorComment Where vendorID = " + std::string(vendor) +
           " And CommentSequence = " + std::to_string(sequence);
}

// The worked example: vendor 318, type 4, location 12, effective 4/1/2009, "Don't ship".
inline const std::string kExampleInsert =
    " Declare @MaxID  int ;  select @MaxId = (Select Max(CommentSequence) From VendorComment "
    "where VendorID = '318');  Set @MaxId = ISNull(@MaxID,0);  INSERT INTO VendorComment "
    "(VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,RecordLastUpdated) "
    "VALUES  (318, @MaxID + 1, 4, 12,  '4/1/2009' ,  Null, 'Don`t ship',  GETDATE())";
inline const std::string kExampleUpdate =
    "UPDATE VendorComment  SET Type = 4, Location= 12, Effective=  '4/1/2009' , Expires=  Null, "
    "Comment= 'Don`t ship', RecordLastUpdated = GETDATE()  WHERE vendorID = 318 AND "
    "CommentSequence = 7";
inline const std::string kExampleDelete =
    "DELETE FROM VendorComment Where vendorID = 318 And CommentSequence = 7";

// text with the first occurrence of from replaced by to.
inline std::string with(std::string text, std::string_view from, std::string_view to) {
    const auto at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Statements that must be refused, each named for what it tries.
struct RefusedCase {
    const char* name;
    std::string sql;
    const char* because; // a fragment of the refusal text
};

inline std::vector<RefusedCase> refusedStatements() {
    const std::string del = kExampleDelete;
    return {
        {"SecondStatement", del + "; DROP TABLE VendorComment", "nothing may follow"},
        {"SecondStatementAfterInsert", kExampleInsert + ";" + del, "nothing may follow"},
        {"LineComment", "DELETE FROM VendorComment Where vendorID = 318 -- And CommentSequence = 7",
         "comments are not allowed"},
        {"LineCommentInsideWord", "DELETE FROM VendorComment Where vendorID = 318-- x",
         "comments are not allowed"},
        {"BlockComment",
         "DELETE FROM VendorComment /* x */ Where vendorID = 318 And "
         "CommentSequence = 7",
         "comments are not allowed"},
        {"OrInWhere", "DELETE FROM VendorComment Where vendorID = 318 OR 1=1",
         "expected 'AND' but found 'OR'"},
        {"OrAfterWhere", del + " OR 1=1", "nothing may follow"},
        {"OrInUpdateWhere",
         "UPDATE VendorComment SET Type = 4, Location= 12, Effective= Null, Expires= Null, "
         "Comment= 'x', RecordLastUpdated = GETDATE() WHERE vendorID = 318 OR 1=1 AND "
         "CommentSequence = 7",
         "expected 'AND'"},
        {"SubqueryInValues",
         " Declare @MaxID int; select @MaxId = (Select Max(CommentSequence) From VendorComment "
         "where VendorID = '318'); Set @MaxId = ISNull(@MaxID,0); INSERT INTO VendorComment "
         "(VendorID,CommentSequence,Type,Location,Effective,Expires,Comment,RecordLastUpdated) "
         "VALUES (318, @MaxID + 1, (SELECT MAX(Code) FROM CommentType), 12, Null, Null, 'x', "
         "GETDATE())",
         "expected a type code"},
        {"Drop", "DROP TABLE VendorComment", "only the comment insert, update and delete"},
        {"Select", "SELECT * FROM VendorComment", "only the comment insert, update and delete"},
        {"OtherTable", "DELETE FROM CommentType Where vendorID = 318 And CommentSequence = 7",
         "expected 'VendorComment'"},
        {"UnterminatedString", updateStatement("318", 7, 4, 12, "", "", "never closed") + " '",
         "unterminated string"},
        {"UnterminatedComment",
         "UPDATE VendorComment SET Type = 4, Location= 12, Effective= "
         "Null, Expires= Null, Comment= 'open",
         "unterminated string"},
        {"ControlByteInComment", insertBatch("318", 4, 12, "", "", "a\x01z"), "control character"},
        {"NulOutsideString", std::string("DELETE FROM VendorComment\0 Where", 32),
         "control character"},
        {"Empty", "", "empty"},
        {"OnlySpaces", "  \r\n ", "empty"},
        {"KeyMismatch", with(kExampleInsert, "'318'", "'319'"), "differs"},
        {"QuotedKeyInDelete",
         "DELETE FROM VendorComment Where vendorID = '318' And "
         "CommentSequence = 7",
         "expected the vendor key"},
        {"UnreadableDate", insertBatch("318", 4, 12, "13/45/2009", "", "x"), "not a readable date"},
        {"NoSuchDay", updateStatement("318", 7, 4, 12, "", "2/30/2009", "x"),
         "not a readable date"},
        {"FractionalCode", with(kExampleInsert, ", 4, 12,", ", 4.5, 12,"), "expected a type code"},
        {"CodeOutOfRange", with(kExampleInsert, ", 4, 12,", ", 99999999999, 12,"), "out of range"},
        {"QuotedSequence",
         "DELETE FROM VendorComment Where vendorID = 318 And "
         "CommentSequence = '7'",
         "expected a comment sequence"},
        {"Exec", "EXEC xp_cmdshell 'dir'", "only the comment insert, update and delete"},
    };
}

// The log the server writes from its threads while the test reads it.
class SharedLog : public std::streambuf {
public:
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        std::istringstream in(text_);
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

protected:
    int overflow(int c) override {
        std::lock_guard lock(mutex_);
        if (c != traits_type::eof()) {
            text_ += static_cast<char>(c);
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard lock(mutex_);
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }

private:
    std::mutex mutex_;
    std::string text_;
};

// Polls until the condition holds or the time is up; returns the condition.
template <typename Condition>
inline bool waitFor(Condition condition, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Every row of the three tables of an SQLite file as text, for fixtures on a file of their own.
inline std::string snapshot(const std::filesystem::path& db) {
    return sqliteSnapshot(db.string());
}

} // namespace vctest
