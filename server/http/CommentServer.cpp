#include "ServerImpl.h"

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
