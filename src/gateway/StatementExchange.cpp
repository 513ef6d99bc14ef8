#include "StatementExchange.h"

#include "URLEncode.h"

#include "../common/Text.h"

namespace tavik {

StatementRequest MakeStatementRequest(const std::string& serverName, const std::string& statement) {
    return {serverName + "VendorCommentLOAD.asp", "SQL=" + URLEncode(statement),
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
