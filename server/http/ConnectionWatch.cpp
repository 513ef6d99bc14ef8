#include "http/ConnectionWatch.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace vcserver {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes the connection has received so far; tells a client that started a request from
// one that sent nothing.
std::uint64_t bytesReceived(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) {
        return 0;
    }
    return info.tcpi_bytes_received;
}

std::string timeText(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    if (ms % 1000 == 0) {
        return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
    }
    return std::to_string(ms) + " ms";
}

void send408(int fd, const std::string& text) {
    const std::string answer = "HTTP/1.1 408 Request Timeout\r\n"
                               "Content-Type: text/plain; charset=utf-8\r\n"
                               "Content-Length: " +
                               std::to_string(text.size()) +
                               "\r\n"
                               "Connection: close\r\n\r\n" +
                               text;
    // The connection is non-blocking and the answer small; what does not fit is dropped.
    [[maybe_unused]] const auto sent =
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace

ConnectionWatch::ConnectionWatch(const ServerLimits& limits, RequestLog& log, bool plainAnswers)
    : limits_(limits), log_(log), plainAnswers_(plainAnswers) {}

ConnectionWatch::~ConnectionWatch() {
    stop();
}

void ConnectionWatch::start() {
    std::lock_guard lock(mutex_);
    stopping_ = false;
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { loop(); });
    }
}

void ConnectionWatch::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool ConnectionWatch::opened(WatchedConnection& c) {
    std::lock_guard lock(mutex_);
    c.phase = WatchedConnection::Phase::Waiting;
    c.since = Clock::now();
    c.bytesMark = 0;
    connections_.insert(&c);
    return ++perClient_[c.client] <= limits_.maxConnectionsPerClient;
}

void ConnectionWatch::closed(WatchedConnection& c) {
    std::lock_guard lock(mutex_);
    // Taking the lock here also waits for a sweep that is writing to the connection, so
    // the descriptor is never written after its owner closed it.
    connections_.erase(&c);
    const auto it = perClient_.find(c.client);
    if (it != perClient_.end() && --it->second == 0) {
        perClient_.erase(it);
    }
}

void ConnectionWatch::requestLine(WatchedConnection& c, std::string target) {
    std::lock_guard lock(mutex_);
    c.phase = WatchedConnection::Phase::Head;
    c.target = std::move(target);
}

bool ConnectionWatch::headDone(WatchedConnection& c) {
    std::lock_guard lock(mutex_);
    if (c.cut) {
        return false;
    }
    c.phase = WatchedConnection::Phase::Body;
    c.since = Clock::now();
    return true;
}

void ConnectionWatch::working(WatchedConnection& c) {
    std::lock_guard lock(mutex_);
    c.phase = WatchedConnection::Phase::Working;
    c.since = Clock::now();
}

void ConnectionWatch::answering(WatchedConnection& c) {
    std::lock_guard lock(mutex_);
    c.phase = WatchedConnection::Phase::Answering;
    c.since = Clock::now();
}

ConnectionWatch::Ended ConnectionWatch::requestDone(WatchedConnection& c) {
    // Asked before the lock, which every connection's step takes.
    const std::uint64_t received = bytesReceived(c.fd);
    std::lock_guard lock(mutex_);
    Ended ended{std::move(c.target), c.cut,      c.cutLogged, c.cutStatus,
                c.cutWhileWorking,   c.cutReason};
    c.phase = WatchedConnection::Phase::Waiting;
    c.since = Clock::now();
    c.bytesMark = received;
    c.target.clear();
    return ended;
}

void ConnectionWatch::loop() {
    // Deadlines are met to within a tenth of the shortest limit (at most a quarter second).
    const auto shortest = std::min({limits_.headTime, limits_.bodyTime, limits_.answerTime});
    const auto tick = std::clamp<std::chrono::milliseconds>(
        shortest / 10, std::chrono::milliseconds(5), std::chrono::milliseconds(250));
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, tick);
        if (stopping_) {
            break;
        }
        std::vector<RequestRecord> records;
        sweep(Clock::now(), records);
        lock.unlock();
        for (const auto& r : records) {
            log_.write(r);
        }
        lock.lock();
    }
}

void ConnectionWatch::sweep(Clock::time_point now, std::vector<RequestRecord>& records) {
    using Phase = WatchedConnection::Phase;
    for (WatchedConnection* c : connections_) {
        if (c->cut) {
            continue;
        }
        const auto age = now - c->since;
        switch (c->phase) {
        case Phase::Waiting:
        case Phase::Head: {
            if (age < limits_.headTime) {
                break;
            }
            const bool started = c->phase == Phase::Head || bytesReceived(c->fd) > c->bytesMark;
            if (!started) {
                // An idle connection: nothing to answer.
                ::shutdown(c->fd, SHUT_RDWR);
                c->cut = c->cutLogged = true;
                break;
            }
            const std::string text =
                "The request head did not arrive within " + timeText(limits_.headTime) + ".";
            answer408(*c, text);
            c->cutLogged = true;
            RequestRecord r;
            r.client = c->client;
            r.target = c->target;
            r.status = c->cutStatus;
            r.bytes = c->cutStatus ? text.size() : 0;
            r.duration = age;
            r.reason = text;
            records.push_back(std::move(r));
            break;
        }
        case Phase::Body:
            if (age >= limits_.bodyTime) {
                answer408(*c, "The request body did not arrive within " +
                                  timeText(limits_.bodyTime) + ".");
            }
            break;
        case Phase::Working:
            if (age >= limits_.answerTime) {
                ::shutdown(c->fd, SHUT_RDWR);
                c->cut = c->cutWhileWorking = true;
                c->cutReason = "No answer was ready within " + timeText(limits_.answerTime) +
                               ", so the connection was closed.";
            }
            break;
        case Phase::Answering:
            if (age >= limits_.answerTime) {
                ::shutdown(c->fd, SHUT_RDWR);
                c->cut = true;
                c->cutReason = "The client did not take the answer within " +
                               timeText(limits_.answerTime) + ".";
            }
            break;
        }
    }
}

void ConnectionWatch::answer408(WatchedConnection& c, const std::string& reason) {
    if (plainAnswers_) {
        send408(c.fd, reason);
    }
    // Both directions: the owner's next read sees the end and closes the connection.
    ::shutdown(c.fd, SHUT_RDWR);
    c.cut = true;
    c.cutStatus = plainAnswers_ ? 408 : 0;
    c.cutReason = reason;
}

} // namespace vcserver
