#pragma once

#include "http/RequestLog.h"
#include "http/ServerLimits.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vcserver {

// One client connection as the watch follows it. The fields are the watch's: read and
// change them only through ConnectionWatch.
struct WatchedConnection {
    enum class Phase { Waiting, Head, Body, Working, Answering };

    int fd = -1;
    std::string client;

    Phase phase = Phase::Waiting;
    std::chrono::steady_clock::time_point since; // when the phase's time began
    std::uint64_t bytesMark = 0;                 // bytes received when waiting began
    std::string target;                          // of the request in progress
    bool cut = false;                            // the watch ended the request in progress
    bool cutLogged = false;                      // ... and logged it, as no completion will
    int cutStatus = 0;                           // the answer the watch gave, 0 for none
    bool cutWhileWorking = false;                // ... before any answer was ready
    std::string cutReason;
};

// Keeps the time limits of every connection and counts connections per client address.
// A connection past its limit is answered 408 (or, if it sent nothing, closed quietly) from
// the watch's own thread, so a slow client never holds a thread that serves others.
class ConnectionWatch {
public:
    // Over TLS the watch cannot write an answer into the connection: plainAnswers false
    // closes it without one.
    ConnectionWatch(const ServerLimits& limits, RequestLog& log, bool plainAnswers = true);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

    void start();
    void stop();

    // A new connection; false when its client already has as many as it may.
    bool opened(WatchedConnection& c);
    // The connection is about to be closed by its owner; the watch lets go of it first.
    void closed(WatchedConnection& c);

    // The request line arrived.
    void requestLine(WatchedConnection& c, std::string target);
    // The head is complete; false when the watch cut the request meanwhile.
    bool headDone(WatchedConnection& c);
    // A worker makes the answer; the answer's time limit starts.
    void working(WatchedConnection& c);
    // The answer is queued.
    void answering(WatchedConnection& c);
    // The request ended; the connection waits for the next. Tells what the watch did to it.
    struct Ended {
        std::string target;
        bool cut = false;
        bool logged = false; // the watch wrote its log line
        int status = 0;      // the answer the watch gave, 0 for none
        bool whileWorking = false;
        std::string reason;
    };
    Ended requestDone(WatchedConnection& c);

private:
    void loop();
    void sweep(std::chrono::steady_clock::time_point now, std::vector<RequestRecord>& records);
    void answer408(WatchedConnection& c, const std::string& reason);

    const ServerLimits limits_;
    RequestLog& log_;
    const bool plainAnswers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::unordered_set<WatchedConnection*> connections_;
    std::unordered_map<std::string, std::size_t> perClient_;
    std::thread thread_;
};

} // namespace vcserver
