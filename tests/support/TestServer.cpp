#include "TestServer.h"

TestServer::TestServer() {
    // One request per connection, unless a test asks for more: a test that stops the server
    // expects nobody to answer any more, and stopping waits for the connections still open.
    http.set_keep_alive_max_count(1);
    // Recorded before the answer is written, so a client that has its answer finds it here.
    http.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::string query;
        for (const auto& [key, value] : req.params)
            query += (query.empty() ? "" : "&") + key + "=" + value;
        std::lock_guard lock(mutex_);
        requests_.push_back({req.method, req.target, req.path, query, req.body,
                             req.get_header_value("Content-Type"), req.headers});
    });
}

TestServer::~TestServer() {
    http.stop();
    if (thread_.joinable())
        thread_.join();
}

void TestServer::start() {
    port_ = http.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { http.listen_after_bind(); });
    while (!http.is_running())
        std::this_thread::yield();
}

std::string TestServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::vector<TestServer::Request> TestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}
