#pragma once

#include <string>
#include <string_view>

// One statement's trip to the server page and back: the request that carries it and what
// its answer means. The control posts through its transfer component; whatever else posts a
// statement (a checker of server pages) builds the same request and judges the answer alike.
namespace tavik {

struct StatementRequest {
    std::string url;     // the page under the server prefix, no query
    std::string body;    // "SQL=" and the form-encoded statement
    std::string headers; // the one header line the control adds
};

// The server page's address under a server prefix: the page name follows the prefix directly;
// a prefix that carries a query ("http://host/app/?site=2") has the page name joined to its
// path and keeps the query. A fragment is not sent, so it is dropped.
std::string PageURL(const std::string& serverName);

StatementRequest MakeStatementRequest(const std::string& serverName, const std::string& statement);

enum class StatementAnswer {
    Accepted, // a blank answer, status below 300: the statement ran
    Refused,  // any other text, whatever the status: shown to the user
    Failed,   // a blank answer with status 300 to 599: a redirect (never followed when
              // posting) or a server that failed without a word
};

StatementAnswer JudgeStatementAnswer(long status, std::string_view answer);

} // namespace tavik
