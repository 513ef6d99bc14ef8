#pragma once

#include <chrono>
#include <cstddef>

namespace vcserver {

// What one client may take of the server. A client past a limit gets its one-line answer
// (408, 429, 431 or 503) or, when it sent nothing, a closed connection.
struct ServerLimits {
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

    // Failed sign-ins from one client address (with users only): the first few are free;
    // then each attempt from the address waits its turn, the wait doubling with every
    // failure up to the longest. An address forgets its failures after a quiet while.
    std::size_t freeSignInFailures = 3;
    std::chrono::milliseconds signInDelay{1'000};
    std::chrono::milliseconds maxSignInDelay{30'000};
    std::chrono::milliseconds signInFailureMemory{600'000};
};

} // namespace vcserver
