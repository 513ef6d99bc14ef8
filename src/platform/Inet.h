#pragma once

#include "Credentials.h"

#include <cstddef>
#include <string>

// The Internet transfer component: one HTTP request at a time, started by Execute and
// reported through the StateChanged event on the user-interface thread.
namespace tavik::platform {

// Transfer states, with the values of the platform's constants.
inline constexpr int icNone = 0;
inline constexpr int icRequesting = 5;
inline constexpr int icRequestSent = 6;
inline constexpr int icReceivingResponse = 7;
inline constexpr int icResponseReceived = 8;
inline constexpr int icError = 11;
inline constexpr int icResponseCompleted = 12;
inline constexpr int icString = 0;

// A statement's answer is a short text; anything longer is not an answer the control can
// show, and an endless one must not exhaust the host's memory: the transfer fails.
inline constexpr std::size_t kMaxAnswerBytes = 1024 * 1024;

class Inet {
public:
    virtual ~Inet() = default;
    // Abandons a request in flight; harmless when idle. No event follows for it.
    virtual void Cancel() = 0;
    // Starts the request and returns at once; throws when it cannot be started.
    virtual void Execute(const std::string& url, const std::string& operation,
                         const std::string& inputData, const std::string& inputHdrs) = 0;
    // True from Execute until the final state (icError or icResponseCompleted) is raised.
    virtual bool StillExecuting() const = 0;
    // The next piece of the response body, at most `size` bytes; empty once exhausted.
    virtual std::string GetChunk(int size, int dataType = icString) = 0;
    // The credentials of the requests started from now on, as the component's UserName and
    // Password; empty ones leave them to the URL and ~/.netrc.
    virtual void SetCredentials(const Credentials& credentials) = 0;
    // Details of the last failure: HTTP status or transfer error code, and its text.
    virtual long ResponseCode() const = 0;
    virtual std::string ResponseInfo() const = 0;
};

} // namespace tavik::platform
