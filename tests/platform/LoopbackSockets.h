#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

// Loopback endpoints that misbehave: a port that refuses connections, and one that accepts
// them but never answers. Both hold their port for their whole life.
class LoopbackSocket {
public:
    enum Kind { Refusing, Silent };

    explicit LoopbackSocket(Kind kind) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no loopback socket");
        port_ = ntohs(address.sin_port);
        // Bound but not listening refuses; listening without ever accepting stays silent.
        if (kind == Silent && ::listen(fd_, 8) != 0)
            throw std::runtime_error("cannot listen");
    }
    ~LoopbackSocket() { ::close(fd_); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
    }

private:
    int fd_;
    int port_ = 0;
};
