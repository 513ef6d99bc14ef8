#include "http/ServerImpl.h"

#include <netdb.h>
#include <strings.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace vcserver {

namespace {

// A body over the limit is read to its end and dropped, so the client reads the 413 rather
// than a reset connection; one past this much is cut short.
constexpr std::size_t kMaxDrainBytes = 64 * 1024 * 1024;
// Descriptors kept free of connections for the database, the log and the server's own use.
constexpr rlim_t kReservedDescriptors = 64;
// An answer's bytes, alive until the library has sent them.
struct SentText {
    std::string text;
    std::shared_ptr<const DocumentBytes> document; // sent instead of the text when set
    bool gzip = false;
    MemoryBudget* budget = nullptr; // given back held bytes when sent, or null
    std::size_t held = 0;

    std::string_view bytes() const {
        if (!document) {
            return text;
        }
        return gzip ? document->gzipped() : document->plain();
    }
};

void freeSentText(void* cls) {
    auto* sent = static_cast<SentText*>(cls);
    if (sent->budget) {
        sent->budget->give(sent->held);
    }
    delete sent;
}

std::string clientAddress(const sockaddr* addr) {
    char host[NI_MAXHOST] = "?";
    if (addr) {
        const socklen_t length =
            addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        getnameinfo(addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    }
    return host;
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
        d->metrics.connectionOpened();
        *socketContext = c;
    } else if (auto* c = static_cast<Connection*>(*socketContext)) {
        d->metrics.connectionClosed();
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
    if (url == kHealthPath || (url == kMetricsPath && metricsPort < 0)) {
        c.route = url == kHealthPath ? Connection::Route::Health : Connection::Route::Metrics;
        if (method == "GET" || method == "HEAD") {
            return std::nullopt;
        }
        Answer notAllowed = refusal(405, "Only GET is allowed here.");
        notAllowed.allow = "GET";
        return notAllowed;
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
    notAllowed.allow = "GET, POST";
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

MHD_Result CommentServer::Impl::queue(Connection& c, MHD_Connection* mc, Answer a) {
    c.answered = true;
    c.status = a.status;
    if (a.status >= 400) {
        c.reason = a.text.empty() ? a.logReason : a.text;
    }
    auto* sent = new SentText{std::move(a.text), std::move(a.document), a.gzip,
                              a.held ? &budget : nullptr, a.held};
    const std::string_view bytes = sent->bytes();
    c.bytes = bytes.size();
    // The library only reads the buffer, though its type says otherwise.
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        bytes.size(), const_cast<char*>(bytes.data()), &freeSentText, sent);
    if (!response) {
        freeSentText(sent);
        return MHD_NO;
    }
    if (a.status != 304) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, a.type);
    }
    if (!a.etag.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, a.etag.c_str());
    }
    if (sent->document || !a.etag.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    }
    if (sent->gzip) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
    }
    if (a.allow) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, a.allow);
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
    if (!ended.logged) {
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
    c.route = Connection::Route::Page;
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
        options.push_back(item(MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)));
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

} // namespace vcserver

namespace vcserver {

// The metrics' own address takes only GET /metrics, answered at once from the counts; a
// scraper needs no more.
MHD_Result CommentServer::Impl::onMetricsRequest(void* cls, MHD_Connection* mc, const char* url,
                                                 const char* method, const char*, const char*,
                                                 size_t* uploadSize, void** requestContext) {
    static int seen;
    if (*requestContext != &seen) {
        *requestContext = &seen; // answered once the whole request is in
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    auto* d = static_cast<Impl*>(cls);
    const std::string_view path = url ? url : "";
    const std::string_view verb = method ? method : "";
    Answer a = path != kMetricsPath ? refusal(404, "Not found: " + printable(path, 200))
               : verb == "GET" || verb == "HEAD" ? d->metricsAnswer()
                                                 : refusal(405, "Only GET is allowed here.");
    MHD_Response* response =
        MHD_create_response_from_buffer(a.text.size(), a.text.data(), MHD_RESPMEM_MUST_COPY);
    if (!response) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, a.type);
    if (a.status == 405) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET");
    }
    const MHD_Result queued = MHD_queue_response(mc, static_cast<unsigned>(a.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Daemon* CommentServer::Impl::startMetrics() {
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    if (metricsFamily == AF_INET6) {
        flags |= MHD_USE_IPv6;
    }
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &onMetricsRequest, this, MHD_OPTION_LISTEN_SOCKET,
        metricsSocket, MHD_OPTION_CONNECTION_LIMIT, 16u, MHD_OPTION_PER_IP_CONNECTION_LIMIT, 8u,
        MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_END);
    metricsSocket = -1;
    if (!daemon) {
        log.note("the metrics service could not be started", LogLevel::Error);
    }
    return daemon;
}

} // namespace vcserver
