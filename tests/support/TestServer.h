#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A small HTTP server on 127.0.0.1 with a free port, for tests that need crafted answers.
// Handlers are registered on `http` before start(); requests are recorded.
class TestServer {
public:
    struct Request {
        std::string method;
        std::string target; // the request target as sent, query undecoded
        std::string path;
        std::string query; // decoded parameters joined as key=value&...
        std::string body;
        std::string contentType;
        httplib::Headers headers;
    };

    TestServer();
    ~TestServer();

    httplib::Server http;

    void start();
    // "http://127.0.0.1:PORT/"
    std::string baseUrl() const;
    std::vector<Request> requests() const;

private:
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
};
