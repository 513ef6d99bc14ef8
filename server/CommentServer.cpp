#include "CommentServer.h"

#include "ConnectionWatch.h"
#include "DelayedTasks.h"
#include "FailureThrottle.h"
#include "FormBody.h"
#include "LoadDocument.h"
#include "WorkerPool.h"

#include "common/CodePage.h"

#include <microhttpd.h>

#include <netdb.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace vcserver {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kPage = "/VendorCommentLOAD.asp";
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kXmlType = "text/xml; charset=utf-8";
constexpr const char* kChallenge = "Basic realm=\"Vendor comments\", charset=\"UTF-8\"";
// A body over the limit is read to its end and dropped, so the client reads the 413 rather
// than a reset connection; one past this much is cut short.
constexpr std::size_t kMaxDrainBytes = 64 * 1024 * 1024;
// Descriptors kept free of connections for the database, the log and the server's own use.
constexpr rlim_t kReservedDescriptors = 64;

// Bytes held for bodies being received and answers being sent, across all connections.
class MemoryBudget {
public:
    explicit MemoryBudget(std::size_t limit) : limit_(limit) {}

    bool take(std::size_t n) {
        std::size_t used = used_.load();
        do {
            if (used > limit_ || n > limit_ - used) {
                return false;
            }
        } while (!used_.compare_exchange_weak(used, used + n));
        return true;
    }

    void give(std::size_t n) { used_ -= n; }

private:
    const std::size_t limit_;
    std::atomic<std::size_t> used_{0};
};

struct Answer {
    int status = 200;
    std::string text;
    const char* type = kTextType;
    bool close = false;         // the connection ends after this answer
    bool allow = false;         // names the methods the page takes
    bool held = false;          // the text's size is taken from the budget
    bool challenge = false;     // asks for credentials
    std::string logReason = {}; // for the log when the text is empty
};

Answer refusal(int status, std::string text, bool close = false) {
    return {status, std::move(text), kTextType, close};
}

Answer tooLarge() {
    return refusal(413, "The request body is larger than 1 MiB.", true);
}

// Without a text, so the control takes a statement refused this way for a failed transfer,
// as it takes any error status with a blank answer.
Answer unauthorised(const Access& access) {
    Answer a{401, {}};
    a.challenge = true;
    a.logReason = access.reason;
    return a;
}

Answer forbidden(const Access& access) {
    return refusal(403, "User " + access.user +
                            " may load comments but not change them: that needs the write role.");
}

// What the request's Authorization header holds. Not the library's Basic reader: it hands
// over C strings, so a password with a zero byte and more after it passed as its first part.
Credentials credentialsOf(MHD_Connection* mc) {
    const char* value = nullptr;
    std::size_t length = 0;
    if (MHD_lookup_connection_value_n(mc, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION,
                                      std::strlen(MHD_HTTP_HEADER_AUTHORIZATION), &value,
                                      &length) != MHD_YES) {
        value = nullptr;
    }
    return Credentials::fromHeader(value, length);
}

// An answer's text, alive until the library has sent it.
struct SentText {
    std::string text;
    MemoryBudget* budget; // given back when sent, or null
};

void freeSentText(void* cls) {
    auto* sent = static_cast<SentText*>(cls);
    if (sent->budget) {
        sent->budget->give(sent->text.size());
    }
    delete sent;
}

// A client connection and the request in progress on it.
struct Connection {
    WatchedConnection watched;
    bool overClientLimit = false;

    // The request in progress. Only the thread serving the connection touches it, and a
    // worker while the connection is suspended for it.
    bool headSeen = false;
    bool answered = false;
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

std::string clientAddress(const sockaddr* addr) {
    char host[NI_MAXHOST] = "?";
    if (addr) {
        const socklen_t length =
            addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        getnameinfo(addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    }
    return host;
}

std::string systemMessage(int error) {
    return std::generic_category().message(error);
}

// The methods the page's router knows; any other is not understood.
bool knownMethod(std::string_view m) {
    for (const char* known : {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"}) {
        if (m == known) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint64_t> declaredLength(MHD_Connection* mc) {
    const char* value = MHD_lookup_connection_value(mc, MHD_HEADER_KIND, "Content-Length");
    if (!value) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long length = std::strtoull(value, &end, 10);
    if (errno != 0 || end == value) {
        return std::nullopt;
    }
    return length;
}

bool expectsContinue(MHD_Connection* mc) {
    const char* value = MHD_lookup_connection_value(mc, MHD_HEADER_KIND, "Expect");
    return value && strcasecmp(value, "100-continue") == 0;
}

} // namespace

struct CommentServer::Impl {
    Impl(CommentStore& s, std::ostream* l, std::size_t t, const ServerOptions& o)
        : store(s), log(l, o.logFormat), threads(std::max<std::size_t>(1, t)), limits(o.limits),
          users(o.users), tls(o.tls), budget(o.limits.maxBufferedBytes), watch(limits, log, !tls),
          workers(threads), throttle(limits) {
        store.setNotices([this](const std::string& message) { log.note(message); });
    }
    ~Impl() { store.setNotices(nullptr); }

    CommentStore& store;
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

    std::string host;
    int port = -1;
    int family = AF_INET;
    int listenSocket = -1;
    std::string bindError;

    std::mutex runMutex;
    std::condition_variable runChanged;
    bool stopRequested = false;

    MHD_Daemon* start();

    // The library's callbacks; cls is the Impl.
    static void onConnection(void* cls, MHD_Connection* mc, void** socketContext,
                             MHD_ConnectionNotificationCode code);
    static void* onRequestLine(void* cls, const char* uri, MHD_Connection* mc);
    static MHD_Result onRequest(void* cls, MHD_Connection* mc, const char* url, const char* method,
                                const char* version, const char* upload, size_t* uploadSize,
                                void** requestContext);
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
    Answer getLoad(const std::string& vendor);
    Answer postStatement(const std::string& body);
    MHD_Result queue(Connection& c, MHD_Connection* mc, Answer a);
    void finish(Connection& c, MHD_Connection* mc, MHD_RequestTerminationCode code);
    void dropBody(Connection& c);
};

void CommentServer::Impl::onConnection(void* cls, MHD_Connection* mc, void** socketContext,
                                       MHD_ConnectionNotificationCode code) {
    auto* d = static_cast<Impl*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* c = new Connection;
        if (const auto* info = MHD_get_connection_info(mc, MHD_CONNECTION_INFO_CONNECTION_FD)) {
            c->watched.fd = info->connect_fd;
        }
        const auto* info = MHD_get_connection_info(mc, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        c->watched.client = clientAddress(info ? info->client_addr : nullptr);
        c->overClientLimit = !d->watch.opened(c->watched);
        *socketContext = c;
    } else if (auto* c = static_cast<Connection*>(*socketContext)) {
        d->watch.closed(c->watched);
        d->dropBody(*c);
        delete c;
        *socketContext = nullptr;
    }
}

void* CommentServer::Impl::onRequestLine(void* cls, const char* uri, MHD_Connection* mc) {
    const auto* info = MHD_get_connection_info(mc, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    auto* c = info ? static_cast<Connection*>(info->socket_context) : nullptr;
    if (c) {
        c->start = Clock::now();
        static_cast<Impl*>(cls)->watch.requestLine(c->watched, uri ? uri : "");
    }
    return c;
}

MHD_Result CommentServer::Impl::onRequest(void* cls, MHD_Connection* mc, const char* url,
                                          const char* method, const char*, const char* upload,
                                          size_t* uploadSize, void** requestContext) {
    auto* d = static_cast<Impl*>(cls);
    auto* c = static_cast<Connection*>(*requestContext);
    if (!c) {
        return MHD_NO;
    }
    try {
        return d->handle(*c, mc, url ? url : "", method ? method : "", upload, uploadSize);
    } catch (const std::exception& e) {
        *uploadSize = 0;
        return c->answered
                   ? MHD_NO
                   : d->queue(*c, mc,
                              refusal(500, std::string("Internal error: ") + e.what() + ".", true));
    }
}

void CommentServer::Impl::onCompleted(void* cls, MHD_Connection* mc, void** requestContext,
                                      MHD_RequestTerminationCode code) {
    if (auto* c = static_cast<Connection*>(*requestContext)) {
        static_cast<Impl*>(cls)->finish(*c, mc, code);
    }
}

// The library calls this once when the head is in, once per piece of body, and once when
// the body is complete; and once more after a worker has resumed the connection.
MHD_Result CommentServer::Impl::handle(Connection& c, MHD_Connection* mc, std::string_view url,
                                       std::string_view method, const char* upload,
                                       size_t* uploadSize) {
    if (!c.headSeen) {
        c.headSeen = true;
        c.method = method;
        if (!watch.headDone(c.watched)) {
            return MHD_NO; // answered 408 by the watch meanwhile
        }
        c.early = answerAtHead(c, mc, url, method);
        // A refusal waits for the body, unless the client waits for leave to send it or
        // announces more than is worth reading.
        if (c.early && (expectsContinue(mc) || declaredLength(mc).value_or(0) > kMaxDrainBytes)) {
            c.early->close = true;
            return queue(c, mc, std::move(*c.early));
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        const std::size_t size = *uploadSize;
        *uploadSize = 0;
        if (c.answered) {
            return MHD_YES;
        }
        takeBody(c, upload, size);
        if (c.received > kMaxDrainBytes) {
            return queue(c, mc, tooLarge());
        }
        return MHD_YES;
    }
    if (c.answered) {
        return MHD_YES;
    }
    if (c.prepared) {
        return queue(c, mc, *std::exchange(c.prepared, std::nullopt));
    }
    if (c.early) {
        return queue(c, mc, std::move(*c.early));
    }
    return prepare(c, mc, method);
}

// The answer needs the store: a worker makes it while the connection is suspended, and the
// library calls again once the worker resumes it.
MHD_Result CommentServer::Impl::prepare(Connection& c, MHD_Connection* mc,
                                        std::string_view method) {
    std::function<Answer()> work;
    if (method == "POST") {
        if (c.received > kMaxBodyBytes) {
            return queue(c, mc, tooLarge());
        }
        if (c.overBudget) {
            return queue(c, mc, refusal(503, "The server is busy; try again."));
        }
        work = [this, &c] { return postStatement(c.body); };
    } else {
        const char* value = nullptr;
        std::size_t length = 0;
        if (MHD_lookup_connection_value_n(mc, MHD_GET_ARGUMENT_KIND, "Vendor", 6, &value,
                                          &length) != MHD_YES) {
            work = [] { return refusal(400, "The query must name a Vendor."); };
        } else {
            // The control percent-encodes non-ASCII as Windows-1252 bytes, as in statements.
            work = [this, vendor = tavik::common::fromAnsi(std::string_view(
                              value ? value : "", length))] { return getLoad(vendor); };
        }
    }
    if (users) {
        return signIn(c, mc, method == "POST", std::move(work));
    }
    return submit(c, mc, std::move(work), Clock::now());
}

// Credentials accepted before pass at once. Others are checked on a worker, as hashing takes
// a processor for a while; after failures from the client's address, only in their turn.
MHD_Result CommentServer::Impl::signIn(Connection& c, MHD_Connection* mc, bool writes,
                                       std::function<Answer()> work) {
    if (const auto problem = users->refresh()) {
        log.note(*problem);
    }
    const Credentials credentials = credentialsOf(mc);
    if (const auto access = users->recall(credentials)) {
        if (!access->granted) {
            return queue(c, mc, unauthorised(*access));
        }
        c.user = access->user;
        if (writes && access->role != Role::Write) {
            return queue(c, mc, forbidden(*access));
        }
        return submit(c, mc, std::move(work), Clock::now());
    }
    const auto turn = throttle.admit(c.watched.client, Clock::now());
    if (!turn) {
        return queue(c, mc,
                     refusal(429, "Too many failed sign-ins from " + c.watched.client +
                                      "; try again later."));
    }
    auto checked = [this, &c, credentials, writes, work = std::move(work)] {
        const Access access = users->check(credentials);
        if (!access.granted) {
            throttle.failed(c.watched.client, Clock::now());
            return unauthorised(access);
        }
        c.user = access.user;
        if (writes && access.role != Role::Write) {
            return forbidden(access);
        }
        return work();
    };
    return submit(c, mc, std::move(checked), *turn);
}

MHD_Result CommentServer::Impl::submit(Connection& c, MHD_Connection* mc,
                                       std::function<Answer()> work, Clock::time_point when) {
    watch.working(c.watched);
    MHD_suspend_connection(mc);
    auto task = [&c, mc, work = std::move(work)] {
        try {
            c.prepared = work();
        } catch (const std::exception& e) {
            c.prepared = refusal(500, std::string("Internal error: ") + e.what() + ".", true);
        }
        MHD_resume_connection(mc);
    };
    const auto stopping = [&c, mc] {
        c.prepared = refusal(503, "The server is stopping; try again.", true);
        MHD_resume_connection(mc);
    };
    bool queued = false;
    if (when <= Clock::now()) {
        queued = workers.submit(std::move(task));
    } else {
        queued = later.at(when, [this, task = std::move(task), stopping]() mutable {
            if (!workers.submit(std::move(task))) {
                stopping();
            }
        });
    }
    if (!queued) {
        stopping();
    }
    return MHD_YES;
}

std::optional<Answer> CommentServer::Impl::answerAtHead(Connection& c, MHD_Connection* mc,
                                                        std::string_view url,
                                                        std::string_view method) {
    if (c.overClientLimit) {
        return refusal(
            429, "Too many connections from " + c.watched.client + "; close some and try again.",
            true);
    }
    const auto* head = MHD_get_connection_info(mc, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    if (head && head->header_size > limits.maxHeadBytes) {
        return refusal(431,
                       "The request head is larger than " +
                           std::to_string(limits.maxHeadBytes / 1024) + " KiB.",
                       true);
    }
    if (!knownMethod(method)) {
        // An unknown method suggests the stream is out of step: end it after the answer.
        return refusal(400, "The request was not understood (HTTP 400).", true);
    }
    if (url != kPage) {
        return refusal(404, "Not found: " + printable(url, 200));
    }
    if (method == "GET" || method == "HEAD") {
        return std::nullopt;
    }
    if (method == "POST") {
        if (declaredLength(mc).value_or(0) > kMaxBodyBytes) {
            return tooLarge();
        }
        return std::nullopt;
    }
    Answer notAllowed = refusal(405, "Only GET and POST are allowed here.");
    notAllowed.allow = true;
    return notAllowed;
}

void CommentServer::Impl::takeBody(Connection& c, const char* data, std::size_t size) {
    c.received += size;
    if (c.early || c.overBudget || c.method != "POST") {
        return; // read and dropped
    }
    if (c.received > kMaxBodyBytes) {
        dropBody(c);
        return;
    }
    if (!budget.take(size)) {
        c.overBudget = true;
        dropBody(c);
        return;
    }
    c.held += size;
    c.body.append(data, size);
}

void CommentServer::Impl::dropBody(Connection& c) {
    budget.give(c.held);
    c.held = 0;
    std::string().swap(c.body);
}

Answer CommentServer::Impl::getLoad(const std::string& vendor) {
    try {
        Answer a{200, loadDocument(store.load(vendor)), kXmlType};
        // Answers wait in memory for slow readers; together they stay within the budget.
        if (!budget.take(a.text.size())) {
            return refusal(503, "The server is busy; try again.");
        }
        a.held = true;
        return a;
    } catch (const StoreBusy& e) {
        return refusal(503, e.what());
    } catch (const StoreError& e) {
        return refusal(500, std::string("Database error: ") + e.what() + ".");
    }
}

Answer CommentServer::Impl::postStatement(const std::string& body) {
    const SqlField field = sqlFieldOf(body);
    if (!field.statement) {
        return refusal(400, "Statement refused: " + field.error);
    }
    const ParsedStatement parsed = parseStatement(*field.statement);
    if (!parsed.statement) {
        return refusal(400, parsed.error);
    }
    const ExecResult result = store.execute(*parsed.statement);
    switch (result.outcome) {
    case ExecResult::Outcome::Done:
        return {200, {}};
    case ExecResult::Outcome::Refused:
        return refusal(400, "Statement refused: " + result.message);
    case ExecResult::Outcome::Busy:
        return refusal(503, result.message);
    case ExecResult::Outcome::Failed:
        break;
    }
    return refusal(500, result.message);
}

MHD_Result CommentServer::Impl::queue(Connection& c, MHD_Connection* mc, Answer a) {
    c.answered = true;
    c.status = a.status;
    c.bytes = a.text.size();
    if (a.status >= 400) {
        c.reason = a.text.empty() ? a.logReason : a.text;
    }
    auto* sent = new SentText{std::move(a.text), a.held ? &budget : nullptr};
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        sent->text.size(), sent->text.data(), &freeSentText, sent);
    if (!response) {
        freeSentText(sent);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, a.type);
    if (a.allow) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, POST");
    }
    if (a.close) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    if (a.challenge) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, kChallenge);
    }
    watch.answering(c.watched);
    const MHD_Result queued = MHD_queue_response(mc, static_cast<unsigned>(a.status), response);
    MHD_destroy_response(response);
    return queued;
}

void CommentServer::Impl::finish(Connection& c, MHD_Connection* mc,
                                 MHD_RequestTerminationCode code) {
    const ConnectionWatch::Ended ended = watch.requestDone(c.watched);
    if (log.enabled() && !ended.logged) {
        RequestRecord r;
        r.client = c.watched.client;
        r.user = c.user;
        r.method = c.method;
        r.target = ended.target;
        r.status = c.status;
        r.bytes = c.bytes;
        r.duration = Clock::now() - c.start;
        r.reason = c.reason;
        if (ended.cut) {
            r.reason = ended.reason;
            if (ended.status) {
                r.status = ended.status;
                r.bytes = ended.reason.size();
            } else if (ended.whileWorking) {
                // What the work came to, though the client never heard it.
                r.status = 0;
                r.bytes = 0;
                const int late = c.prepared ? c.prepared->status : c.status;
                const std::string& text = c.prepared ? c.prepared->text : c.reason;
                if (late != 0 && late < 400 && c.method == "POST") {
                    r.reason += " The statement took effect later all the same.";
                } else if (late != 0) {
                    r.reason += " The work ended later with " + std::to_string(late) +
                                (text.empty() ? "." : ": " + text);
                }
            }
        } else if (c.status == 0) {
            // Refused by the HTTP library before the page saw it (a malformed or oversized
            // head), with the library's own answer.
            const auto* info = MHD_get_connection_info(mc, MHD_CONNECTION_INFO_HTTP_STATUS);
            if (info && info->http_status) {
                r.status = static_cast<int>(info->http_status);
                r.reason = "The request was refused before it reached the page.";
            }
        }
        // The library may report a request whose answer went out only when the connection
        // ends, so only a request without an answer is said to have ended early.
        if (r.status == 0 && r.reason.empty() && code != MHD_REQUEST_TERMINATED_COMPLETED_OK) {
            r.reason = code == MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN
                           ? "The server stopped before it answered."
                           : "The connection ended before the answer.";
        }
        log.write(r);
    }
    dropBody(c);
    c.headSeen = false;
    c.answered = false;
    c.method.clear();
    c.received = 0;
    c.overBudget = false;
    c.early.reset();
    c.prepared.reset();
    c.user.clear();
    c.status = 0;
    c.bytes = 0;
    c.reason.clear();
}

MHD_Daemon* CommentServer::Impl::start() {
    // Each connection holds a descriptor; stay clear of the process's limit.
    rlimit files{};
    std::size_t connections = limits.maxConnections;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const rlim_t room = files.rlim_cur > 2 * kReservedDescriptors
                                ? files.rlim_cur - kReservedDescriptors
                                : files.rlim_cur / 2;
        connections = std::min<std::size_t>(connections, room);
    }
    // Past the per-client limit a connection is still taken, to be answered 429; past twice
    // the limit it is closed at once.
    const std::size_t perClientCutOff = 2 * limits.maxConnectionsPerClient;
    // The library's own idle time-out only backs up the watch's limits.
    const auto longest = std::max({limits.headTime, limits.bodyTime, limits.answerTime});
    const auto idleSeconds = std::chrono::duration_cast<std::chrono::seconds>(longest).count() + 5;
    // Room for the head (answered 431 past its limit) and a buffer for reading the body.
    const std::size_t memoryPerConnection =
        std::max<std::size_t>(32 * 1024, 4 * limits.maxHeadBytes);

    const auto item = [](MHD_OPTION option, intptr_t value, void* pointer = nullptr) {
        return MHD_OptionItem{option, value, pointer};
    };
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (family == AF_INET6) {
        flags |= MHD_USE_IPv6;
    }
    if (tls) {
        flags |= MHD_USE_TLS;
    }
    // The library's own messages stay off: the completion of every request, also of one
    // the library refused itself, writes the request's one log line.
    std::vector<MHD_OptionItem> options = {
        item(MHD_OPTION_LISTEN_SOCKET, listenSocket),
        item(MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(connections)),
        item(MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(perClientCutOff)),
        item(MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(idleSeconds)),
        item(MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(memoryPerConnection)),
        item(MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&onConnection), this),
        item(MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&onRequestLine), this),
        item(MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&onCompleted), this),
    };
    if (tls) {
        // The library reads both PEM texts while it starts.
        options.push_back(
            item(MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(tls->certificate.c_str())));
        options.push_back(item(MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(tls->key.c_str())));
    }
    // Sockets need little processor time of their own: one event loop per core.
    const auto loops = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    if (loops > 1) {
        options.push_back(item(MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(loops)));
    }
    options.push_back(item(MHD_OPTION_END, 0));

    MHD_Daemon* daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &onRequest, this,
                                          MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    // The library owns the listening socket from here, and closes it when it stops.
    listenSocket = -1;
    if (!daemon) {
        log.note("the HTTP service could not be started");
    }
    return daemon;
}

CommentServer::CommentServer(CommentStore& store, std::ostream* log, std::size_t threads,
                             ServerOptions options)
    : d_(std::make_unique<Impl>(store, log, threads, options)) {}

CommentServer::~CommentServer() {
    stop();
    if (d_->listenSocket >= 0) {
        ::close(d_->listenSocket);
    }
}

int CommentServer::bind(const std::string& host, int port) {
    d_->host = host;
    d_->port = -1;
    d_->bindError.clear();
    if (d_->listenSocket >= 0) {
        ::close(d_->listenSocket);
        d_->listenSocket = -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc =
            getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
        rc != 0) {
        d_->bindError = gai_strerror(rc);
        return -1;
    }
    for (const addrinfo* ai = found; ai && d_->listenSocket < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                ai->ai_protocol);
        if (fd < 0) {
            d_->bindError = systemMessage(errno);
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
            d_->bindError = systemMessage(errno);
            ::close(fd);
            continue;
        }
        d_->listenSocket = fd;
        d_->family = ai->ai_family;
        d_->port = ntohs(ai->ai_family == AF_INET6
                             ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                             : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    freeaddrinfo(found);
    return d_->port;
}

std::string CommentServer::bindError() const {
    return d_->bindError;
}

std::string CommentServer::baseUrl() const {
    const bool ipv6 = d_->host.find(':') != std::string::npos;
    return (d_->tls ? "https://" : "http://") + (ipv6 ? "[" + d_->host + "]" : d_->host) + ":" +
           std::to_string(d_->port) + "/";
}

bool CommentServer::run() {
    {
        std::lock_guard lock(d_->runMutex);
        if (d_->stopRequested || d_->listenSocket < 0) {
            return d_->stopRequested;
        }
    }
    MHD_Daemon* daemon = d_->start();
    if (!daemon) {
        return false;
    }
    d_->watch.start();
    {
        std::unique_lock lock(d_->runMutex);
        d_->runChanged.wait(lock, [this] { return d_->stopRequested; });
    }
    // The library may not stop while a connection waits for a worker; workers resume theirs,
    // also those of requests held back, which go to the workers now.
    d_->later.close();
    d_->workers.close();
    MHD_stop_daemon(daemon);
    d_->watch.stop();
    return true;
}

void CommentServer::stop() {
    {
        std::lock_guard lock(d_->runMutex);
        d_->stopRequested = true;
    }
    d_->runChanged.notify_all();
}

} // namespace vcserver
