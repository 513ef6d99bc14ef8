#include "StatementExchange.h"

#include "URLEncode.h"

#include "../common/Text.h"

namespace tavik {

std::string PageURL(const std::string& serverName) {
    const std::size_t cut = serverName.find_first_of("?#");
    if (cut == std::string::npos)
        return serverName + "VendorCommentLOAD.asp";
    std::string url = serverName.substr(0, cut) + "VendorCommentLOAD.asp";
    if (serverName[cut] == '?') {
        const std::string query = serverName.substr(cut + 1, serverName.find('#', cut) - cut - 1);
        if (!query.empty())
            url += "?" + query;
    }
    return url;
}

StatementRequest MakeStatementRequest(const std::string& serverName, const std::string& statement) {
    return {PageURL(serverName), "SQL=" + URLEncode(statement),
            "Content-Type: application/x-www-form-urlencoded"};
}

StatementAnswer JudgeStatementAnswer(long status, std::string_view answer) {
    if (!common::isBlank(answer))
        return StatementAnswer::Refused;
    // A redirect, which posting never follows, or a server that failed without a word: the
    // statement did not run.
    if (status >= 300 && status <= 599)
        return StatementAnswer::Failed;
    return StatementAnswer::Accepted;
}

} // namespace tavik
