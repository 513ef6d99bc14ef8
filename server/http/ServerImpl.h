#pragma once

// What the HTTP service's parts share: the server's state, a connection's request, an
// answer. The parts: HttpService.cpp (the libmicrohttpd side), PageRoutes.cpp (what the
// page answers), SignIn.cpp (users), CommentServer.cpp (binding, running, stopping).

#include "access/FailureThrottle.h"
#include "http/CommentServer.h"
#include "http/ConnectionWatch.h"
#include "http/DelayedTasks.h"
#include "http/DocumentBytes.h"
#include "http/DocumentCache.h"
#include "http/MemoryBudget.h"
#include "http/Metrics.h"
#include "http/WorkerPool.h"

#include <microhttpd.h>

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vcserver {

using Clock = std::chrono::steady_clock;

inline constexpr std::string_view kPage = "/VendorCommentLOAD.asp";
inline constexpr std::string_view kHealthPath = "/healthz";
inline constexpr std::string_view kMetricsPath = "/metrics";
inline constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
// The health check's answer waits this long for the store at most.
inline constexpr std::chrono::milliseconds kHealthTime{2'000};
// A request that waited this long for a worker (every one held by a slow database) is
// answered busy without reaching the store: with the store's own time limits, every answer
// comes within the control's (a load 25 s, a statement 45 s).
inline constexpr std::chrono::milliseconds kMostWorkerWait{5'000};
inline constexpr const char* kTextType = "text/plain; charset=utf-8";
inline constexpr const char* kXmlType = "text/xml; charset=utf-8";
// A load document at least this large is sent compressed to a client that takes gzip; below
// it the compression saves less than a packet.
inline constexpr std::size_t kGzipFrom = 4 * 1024;
inline constexpr const char* kChallenge = "Basic realm=\"Vendor comments\", charset=\"UTF-8\"";

struct Answer {
    int status = 200;
    std::string text;
    const char* type = kTextType;
    bool close = false;          // the connection ends after this answer
    const char* allow = nullptr; // the methods the route takes, for a 405
    std::size_t held = 0;        // bytes taken from the budget, given back once sent
    bool challenge = false;      // asks for credentials
    std::string logReason = {};  // for the log when the text is empty
    // A load document is sent from its shared bytes instead of the text, compressed when
    // gzip is set; either way the answer varies with Accept-Encoding.
    std::shared_ptr<const DocumentBytes> document = {};
    bool gzip = false;
    std::string etag = {}; // a load's, for If-None-Match; it varies with Accept-Encoding too
};

Answer refusal(int status, std::string text, bool close = false);
Answer tooLarge();

// A client connection and the request in progress on it.
struct Connection {
    WatchedConnection watched;
    bool overClientLimit = false;

    // The request in progress. Only the thread serving the connection touches it, and a
    // worker while the connection is suspended for it.
    bool headSeen = false;
    bool answered = false;
    enum class Route { Page, Health, Metrics } route = Route::Page;
    std::string method;
    Clock::time_point start = Clock::now();
    std::string body;
    std::size_t received = 0;
    std::size_t held = 0; // bytes of body taken from the budget
    bool overBudget = false;
    std::optional<Answer> early;    // decided at the head, given once the body is in
    std::optional<Answer> prepared; // made by a worker, given when the connection resumes
    std::string user;               // signed in for the request
    int status = 0;
    std::size_t bytes = 0;
    std::string reason;
};

struct CommentServer::Impl {
    Impl(CommentStore& s, std::ostream* l, std::size_t t, const ServerOptions& o)
        : store(s), log(l, o.logFormat, &metrics), threads(std::max<std::size_t>(1, t)),
          limits(o.limits), users(o.users), tls(o.tls), budget(o.limits.maxBufferedBytes),
          watch(limits, log, !tls), workers(threads, o.eagerThreads), throttle(limits), cache(o.cacheBytes) {
        store.setNotices([this](const std::string& message) { log.note(message); });
    }
    ~Impl() { store.setNotices(nullptr); }

    CommentStore& store;
    Metrics metrics; // before the log, which counts into it
    RequestLog log;
    const std::size_t threads;
    const ServerLimits limits;
    const std::shared_ptr<Authenticator> users;
    const std::optional<TlsCredentials> tls;
    MemoryBudget budget;
    ConnectionWatch watch;
    WorkerPool workers;
    FailureThrottle throttle;
    DelayedTasks later;
    DocumentCache cache;

    std::string host;
    int port = -1;
    int family = AF_INET;
    int listenSocket = -1;
    std::string bindError;
    // The metrics' own address, when they are not served beside the page.
    std::string metricsHost;
    int metricsPort = -1;
    int metricsSocket = -1;
    int metricsFamily = AF_INET;

    std::mutex runMutex;
    std::condition_variable runChanged;
    bool stopRequested = false;

    MHD_Daemon* start();
    MHD_Daemon* startMetrics();

    // The library's callbacks; cls is the Impl.
    static void onConnection(void* cls, MHD_Connection* mc, void** socketContext,
                             MHD_ConnectionNotificationCode code);
    static void* onRequestLine(void* cls, const char* uri, MHD_Connection* mc);
    static MHD_Result onRequest(void* cls, MHD_Connection* mc, const char* url, const char* method,
                                const char* version, const char* upload, size_t* uploadSize,
                                void** requestContext);
    static MHD_Result onMetricsRequest(void* cls, MHD_Connection* mc, const char* url,
                                       const char* method, const char* version, const char* upload,
                                       size_t* uploadSize, void** requestContext);
    static void onCompleted(void* cls, MHD_Connection* mc, void** requestContext,
                            MHD_RequestTerminationCode code);

    MHD_Result handle(Connection& c, MHD_Connection* mc, std::string_view url,
                      std::string_view method, const char* upload, size_t* uploadSize);
    std::optional<Answer> answerAtHead(Connection& c, MHD_Connection* mc, std::string_view url,
                                       std::string_view method);
    void takeBody(Connection& c, const char* data, std::size_t size);
    MHD_Result prepare(Connection& c, MHD_Connection* mc, std::string_view method);
    MHD_Result signIn(Connection& c, MHD_Connection* mc, bool writes, std::function<Answer()> work);
    MHD_Result submit(Connection& c, MHD_Connection* mc, std::function<Answer()> work,
                      Clock::time_point when);
    MHD_Result checkHealth(Connection& c, MHD_Connection* mc);
    Answer health();
    Answer metricsAnswer() const;
    Answer getLoad(const std::string& vendor, bool takesGzip, const std::string& ifNoneMatch);
    // changedBy: the signed-in user, or the client's address when there are no users.
    Answer postStatement(const std::string& body, const std::string& changedBy);
    MHD_Result queue(Connection& c, MHD_Connection* mc, Answer a);
    void finish(Connection& c, MHD_Connection* mc, MHD_RequestTerminationCode code);
    void dropBody(Connection& c);
};

} // namespace vcserver
