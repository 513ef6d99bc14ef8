#include "http/ServerImpl.h"

#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vcserver {

namespace {

std::string systemMessage(int error) {
    return std::generic_category().message(error);
}

} // namespace

CommentServer::CommentServer(CommentStore& store, std::ostream* log, std::size_t threads,
                             ServerOptions options)
    : d_(std::make_unique<Impl>(store, log, threads, options)) {}

CommentServer::~CommentServer() {
    stop();
    if (d_->listenSocket >= 0) {
        ::close(d_->listenSocket);
    }
    if (d_->metricsSocket >= 0) {
        ::close(d_->metricsSocket);
    }
}

namespace {

struct Listener {
    int fd = -1;
    int family = AF_INET;
    int port = -1;
};

// A listening socket on the host's first address that takes it; port 0 picks a free one.
Listener listenOn(const std::string& host, int port, std::string& error) {
    Listener l;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc =
            getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
        rc != 0) {
        error = gai_strerror(rc);
        return l;
    }
    for (const addrinfo* ai = found; ai && l.fd < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                ai->ai_protocol);
        if (fd < 0) {
            error = systemMessage(errno);
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
            error = systemMessage(errno);
            ::close(fd);
            continue;
        }
        l.fd = fd;
        l.family = ai->ai_family;
        l.port = ntohs(ai->ai_family == AF_INET6
                           ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                           : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    freeaddrinfo(found);
    return l;
}

std::string urlOf(const char* scheme, const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return scheme + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

} // namespace

int CommentServer::bind(const std::string& host, int port) {
    d_->host = host;
    d_->bindError.clear();
    if (d_->listenSocket >= 0) {
        ::close(d_->listenSocket);
    }
    const Listener l = listenOn(host, port, d_->bindError);
    d_->listenSocket = l.fd;
    d_->family = l.family;
    d_->port = l.port;
    return d_->port;
}

int CommentServer::bindMetrics(const std::string& host, int port) {
    d_->metricsHost = host;
    d_->bindError.clear();
    if (d_->metricsSocket >= 0) {
        ::close(d_->metricsSocket);
    }
    const Listener l = listenOn(host, port, d_->bindError);
    d_->metricsSocket = l.fd;
    d_->metricsFamily = l.family;
    d_->metricsPort = l.port;
    return d_->metricsPort;
}

std::string CommentServer::bindError() const {
    return d_->bindError;
}

std::string CommentServer::baseUrl() const {
    return urlOf(d_->tls ? "https://" : "http://", d_->host, d_->port);
}

std::string CommentServer::metricsUrl() const {
    return d_->metricsPort < 0 ? ""
                               : urlOf("http://", d_->metricsHost, d_->metricsPort) + "metrics";
}

bool CommentServer::run() {
    {
        std::lock_guard lock(d_->runMutex);
        if (d_->stopRequested || d_->listenSocket < 0) {
            return d_->stopRequested;
        }
    }
    MHD_Daemon* metricsDaemon = nullptr;
    if (d_->metricsSocket >= 0 && !(metricsDaemon = d_->startMetrics())) {
        return false;
    }
    MHD_Daemon* daemon = d_->start();
    if (!daemon) {
        if (metricsDaemon) {
            MHD_stop_daemon(metricsDaemon);
        }
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
    if (metricsDaemon) {
        MHD_stop_daemon(metricsDaemon);
    }
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
