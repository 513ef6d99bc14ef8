#pragma once

#include "access/SignInLimits.h"

#include <chrono>
#include <cstddef>

namespace vcserver {

// What one client may take of the server. A client past a limit gets its one-line answer
// (408, 429, 431 or 503) or, when it sent nothing, a closed connection. The sign-in limits
// are the access room's own.
struct ServerLimits : SignInLimits {
    // From the moment a connection waits for a request to the end of the request's head;
    // a connection that sent nothing by then is closed without an answer.
    std::chrono::milliseconds headTime{10'000};
    // From the end of the head to the end of the body.
    std::chrono::milliseconds bodyTime{30'000};
    // From the answer's start to its last byte leaving; past it the connection is closed.
    std::chrono::milliseconds answerTime{60'000};
    std::size_t maxHeadBytes = 8 * 1024;
    std::size_t maxConnections = 4096;
    std::size_t maxConnectionsPerClient = 1024;
    // Bodies being received and answers being sent, together; past it new work gets 503.
    std::size_t maxBufferedBytes = 256 * 1024 * 1024;
};

} // namespace vcserver
