#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace vcserver {

// Text keeps the columns operators know; JSON is one object a line for a log collector.
enum class LogFormat { Text, Json };

// How much a line matters, for a collector's filters: requests answered below 500 are info,
// those answered 500 or more are errors, those closed without an answer warnings; messages
// say which they are.
enum class LogLevel { Info, Warning, Error };

class Metrics;

// One request as the log shows it.
struct RequestRecord {
    std::string client;
    std::string user;   // the signed-in user, empty without one
    std::string method; // empty when the head never arrived
    std::string target; // as sent, with the query; empty when unknown
    int status = 0;     // 0 when no answer went out
    std::size_t bytes = 0;
    std::chrono::steady_clock::duration duration{};
    // The answer's text for a refusal or error, or why the request ended without one.
    std::string reason;
};

// Only printable ASCII of a client's text goes into answers and the log, so neither can be
// split or garbled by what a client sends.
std::string printable(std::string_view text, std::size_t limit);

// The line for one request, without the line break; time is when it ended.
std::string formatRequest(const RequestRecord& record, LogFormat format,
                          std::chrono::system_clock::time_point time);

// A message as a line of the log, without the line break: "TIME server: TEXT" as text.
std::string formatMessage(std::string_view message, LogLevel level, LogFormat format,
                          std::chrono::system_clock::time_point time);

// Writes whole lines from many threads. Every request passes through it, so it also counts
// them for the metrics, when given, with or without a log to write to.
class RequestLog {
public:
    RequestLog(std::ostream* out, LogFormat format, Metrics* metrics = nullptr)
        : out_(out), format_(format), metrics_(metrics) {}

    bool enabled() const { return out_ != nullptr; }
    void write(const RequestRecord& record);
    // A message of the server's own, as its own line.
    void note(std::string_view message, LogLevel level = LogLevel::Warning);

private:
    void line(std::string text);

    std::ostream* out_;
    LogFormat format_;
    Metrics* metrics_;
    std::mutex mutex_;
};

} // namespace vcserver
