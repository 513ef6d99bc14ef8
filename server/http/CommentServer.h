#pragma once

#include "access/Authenticator.h"
#include "http/RequestLog.h"
#include "http/ServerLimits.h"
#include "http/TlsFiles.h"
#include "store/CommentStore.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

namespace vcserver {

struct ServerOptions {
    LogFormat logFormat = LogFormat::Text;
    ServerLimits limits;
    // With users, every request signs in with HTTP Basic: read users may load, write users
    // may also post statements. Without, the page is open to whoever reaches it.
    std::shared_ptr<Authenticator> users;
    // With a certificate, the page is served over HTTPS only.
    std::optional<TlsCredentials> tls;
    // Built load documents kept for loads to come, at most this many bytes; 0 keeps none.
    // A kept document is sent only while the store's change version still matches it.
    std::size_t cacheBytes = 64 * 1024 * 1024;
    // How many of the threads run database work at once before more are woken for it: half
    // the cores (the event loops take the other half) suits a store answering from local
    // files in microseconds; one that waits on the network wants every thread. Work that
    // runs long stops counting (see WorkerPool).
    std::size_t eagerThreads = std::max(std::thread::hardware_concurrency() / 2, 1u);
};

// The server page VendorCommentLOAD.asp over HTTP: GET answers the load document of the
// vendor in the query, POST executes the statement in the body field SQL. Beside it, GET
// /healthz answers 200 "ok" while the store answers (503 otherwise), to anyone, and GET
// /metrics the counts in the Prometheus text format, signed in like a load when there are
// users.
class CommentServer {
public:
    // Larger bodies are answered 413.
    static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

    // log receives one line per request; it may be null. threads run the database work,
    // each one store call at a time, so the store never sees more calls at once; the
    // connections themselves are served by a few event loops.
    CommentServer(CommentStore& store, std::ostream* log, std::size_t threads = 16,
                  ServerOptions options = {});
    ~CommentServer();
    CommentServer(const CommentServer&) = delete;
    CommentServer& operator=(const CommentServer&) = delete;

    // Binds and listens; port 0 picks a free port. Returns the bound port, or -1 (see
    // bindError()).
    int bind(const std::string& host, int port);

    // Serves GET /metrics on an address of its own, plain HTTP without sign-in, instead of
    // beside the page; call before run(). Returns the bound port, or -1 (see bindError()).
    int bindMetrics(const std::string& host, int port);

    // Why the last bind() or bindMetrics() failed, as the system put it ("Address already in use").
    std::string bindError() const;

    // "http://host:port/" ("https://" with TLS), the prefix the control is given.
    std::string baseUrl() const;

    // "http://host:port/metrics" once bindMetrics() has bound, otherwise "".
    std::string metricsUrl() const;

    // Serves until stop(); returns at once when stop() came first. False when the service
    // could not be started.
    bool run();

    // Safe from any thread, also before run() has started.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace vcserver
