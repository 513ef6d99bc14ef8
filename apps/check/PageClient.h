#pragma once

#include "gateway/StatementExchange.h"
#include "platform/TestHooks.h"

#include <chrono>
#include <string>

// The checker's HTTP: the load fetch is the control's own (platform/net/DocumentFetch.h); a
// statement is posted with the transfer component's request, limits and answer cap.
namespace vccheck {

struct TimeLimits {
    std::chrono::milliseconds connect;
    std::chrono::milliseconds transfer;
};

// The control's limits unless the command line sets others.
struct PageLimits {
    TimeLimits load{tavik::platform::xmlConnectLimit, tavik::platform::xmlTransferLimit};
    TimeLimits statement{tavik::platform::inetConnectLimit, tavik::platform::inetTransferLimit};
};

struct PostedStatement {
    bool completed = false; // an answer came, whatever its status
    std::string failure;    // why none came; the control shows " Error !  " then
    long status = 0;
    std::string answer;   // as the control reads it: UTF-8, or converted from Windows-1252
    std::string redirect; // where a redirect points, which the control does not follow
    std::chrono::microseconds duration{};
};

PostedStatement postStatement(const tavik::StatementRequest& request, const TimeLimits& limits);

} // namespace vccheck
