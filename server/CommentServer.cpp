#include "CommentServer.h"

#include "FormBody.h"
#include "LoadDocument.h"

#include <httplib.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

namespace vcserver {

namespace {

constexpr const char* kPage = "/VendorCommentLOAD.asp";
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr std::size_t kMaxDrainBytes = 64 * 1024 * 1024;

void answerError(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(message, kTextType);
}

// Request paths and targets arrive decoded or raw; only printable ASCII goes into answers
// and the log, so neither can be split or garbled by what a client sends.
std::string printable(std::string_view text, std::size_t limit) {
    std::string out;
    for (const char c : text.substr(0, limit)) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    if (text.size() > limit) {
        out += "...";
    }
    return out;
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

} // namespace

struct CommentServer::Impl {
    Impl(CommentStore& s, std::ostream* l) : store(s), log(l) {}

    CommentStore& store;
    std::ostream* log;
    std::mutex logMutex;
    httplib::Server http;
    std::string host;
    int port = -1;
    int listenSocket = -1;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> inRun{false};

    void getLoad(const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("Vendor")) {
            answerError(res, 400, "The query must name a Vendor.");
            return;
        }
        // The control percent-encodes non-ASCII as Windows-1252 bytes, as in statements.
        const std::string vendor = windows1252ToUtf8(req.get_param_value("Vendor"));
        try {
            // Moved into the answer, not copied: a large document is tens of megabytes.
            res.body = loadDocument(store.load(vendor));
            res.set_header("Content-Type", "text/xml; charset=utf-8");
        } catch (const StoreError& e) {
            answerError(res, 500, std::string("Database error: ") + e.what() + ".");
        }
    }

    void postStatement(httplib::Response& res, const httplib::ContentReader& reader) {
        std::string body;
        std::size_t received = 0;
        // httplib refuses an oversized body with a length before reading it, and closes the
        // connection. A chunked body is only seen here: it is drained, not kept, so the
        // connection stays in step for the next request, up to a bound.
        const bool complete = reader([&](const char* data, std::size_t length) {
            received += length;
            if (received <= kMaxBodyBytes) {
                body.append(data, length);
            }
            return received <= kMaxDrainBytes;
        });
        if (received > kMaxBodyBytes || res.status == 413) {
            res.set_header("Connection", "close");
            answerError(res, 413, "The request body is larger than 1 MiB.");
            return;
        }
        if (!complete) {
            res.set_header("Connection", "close");
            answerError(res, 400, "The request body could not be read.");
            return;
        }
        const SqlField field = sqlFieldOf(body);
        if (!field.statement) {
            answerError(res, 400, "Statement refused: " + field.error);
            return;
        }
        const ParsedStatement parsed = parseStatement(*field.statement);
        if (!parsed.statement) {
            answerError(res, 400, parsed.error);
            return;
        }
        const ExecResult result = store.execute(*parsed.statement);
        switch (result.outcome) {
        case ExecResult::Outcome::Done:
            res.status = 200;
            res.set_content("", kTextType);
            break;
        case ExecResult::Outcome::Refused:
            answerError(res, 400, "Statement refused: " + result.message);
            break;
        case ExecResult::Outcome::Failed:
            answerError(res, 500, result.message);
            break;
        }
    }

    void logRequest(const httplib::Request& req, const httplib::Response& res) {
        if (!log) {
            return;
        }
        std::string line = timestamp() + ' ' + req.remote_addr + ' ' + printable(req.method, 16) +
                           ' ' + printable(req.target, 500) + ' ' + std::to_string(res.status) +
                           ' ' + std::to_string(res.body.size());
        if (res.status >= 400 && !res.body.empty()) {
            line += " \"" + printable(res.body, 300) + '"';
        }
        line += '\n';
        std::lock_guard lock(logMutex);
        *log << line << std::flush;
    }
};

CommentServer::CommentServer(CommentStore& store, std::ostream* log, std::size_t threads)
    : d_(std::make_unique<Impl>(store, log)) {
    auto& http = d_->http;
    Impl* d = d_.get();
    http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    http.set_payload_max_length(kMaxBodyBytes);
    // Idle keep-alive connections hold a worker; a short wait keeps stop() quick.
    http.set_keep_alive_timeout(2);
    http.set_keep_alive_max_count(100);
    // Headers and body go out in separate writes; without this the body waits for the
    // client's delayed acknowledgement (about 40 ms a request).
    http.set_tcp_nodelay(true);

    // httplib listens with a backlog of 5, which drops connections when a few clients
    // connect at once; the listening socket is kept so bind() can widen the backlog.
    http.set_socket_options([d](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        d->listenSocket = sock;
    });

    http.Get(kPage,
             [d](const httplib::Request& req, httplib::Response& res) { d->getLoad(req, res); });
    http.Post(kPage, [d](const httplib::Request&, httplib::Response& res,
                         const httplib::ContentReader& reader) { d->postStatement(res, reader); });
    const auto notAllowed = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "GET, POST");
        answerError(res, 405, "Only GET and POST are allowed here.");
    };
    http.Put(kPage, notAllowed);
    http.Patch(kPage, notAllowed);
    http.Delete(kPage, notAllowed);
    http.Options(kPage, notAllowed);

    http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) {
            return; // a handler's own error text
        }
        if (res.status == 404) {
            res.set_content("Not found: " + printable(req.path, 200), kTextType);
        } else {
            res.set_content("The request was not understood (HTTP " + std::to_string(res.status) +
                                ").",
                            kTextType);
        }
    });
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            answerError(res, 500, "Internal error: " + what + ".");
        });
    http.set_logger([d](const httplib::Request& req, const httplib::Response& res) {
        d->logRequest(req, res);
    });
}

CommentServer::~CommentServer() {
    stop();
}

int CommentServer::bind(const std::string& host, int port) {
    d_->host = host;
    if (port == 0) {
        d_->port = d_->http.bind_to_any_port(host);
    } else {
        d_->port = d_->http.bind_to_port(host, port) ? port : -1;
    }
    if (d_->port > 0) {
        // Listening again on a listening socket only changes its backlog.
        ::listen(d_->listenSocket, SOMAXCONN);
    }
    return d_->port;
}

std::string CommentServer::baseUrl() const {
    const bool ipv6 = d_->host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + d_->host + "]" : d_->host) + ":" + std::to_string(d_->port) +
           "/";
}

void CommentServer::run() {
    d_->inRun = true;
    if (!d_->stopRequested) {
        d_->http.listen_after_bind();
    }
    d_->inRun = false;
}

void CommentServer::stop() {
    d_->stopRequested = true;
    // stop() only takes effect once the accept loop is running; wait for that or for run()
    // to have returned.
    while (d_->inRun && !d_->http.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    d_->http.stop();
}

} // namespace vcserver
