#include "http/RequestLog.h"

#include "http/Metrics.h"

#include "common/JsonWriter.h"

#include <cstdio>
#include <ctime>

namespace vcserver {

namespace {

std::tm localTime(std::chrono::system_clock::time_point time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// "2009-04-01 15:04:05", the text format's first two columns.
std::string plainTime(std::chrono::system_clock::time_point time) {
    const std::tm tm = localTime(time);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// "2009-04-01T15:04:05.123+02:00", which collectors read without being told the zone.
std::string isoTime(std::chrono::system_clock::time_point time) {
    const std::tm tm = localTime(time);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() %
        1000;
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms), zone, zone + 3);
    return buf;
}

std::string milliseconds(std::chrono::steady_clock::duration d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", std::chrono::duration<double, std::milli>(d).count());
    return buf;
}

std::string jsonString(std::string_view text) {
    std::string out;
    tavik::common::appendJsonString(out, text);
    return out;
}

const char* levelName(LogLevel level) {
    switch (level) {
    case LogLevel::Info:
        return "info";
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Error:
        break;
    }
    return "error";
}

} // namespace

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

std::string formatRequest(const RequestRecord& r, LogFormat format,
                          std::chrono::system_clock::time_point time) {
    const std::string method = printable(r.method, 16);
    const std::string target = printable(r.target, 500);
    const std::string reason = printable(r.reason, 300);
    const std::string user = printable(r.user, 64);
    if (format == LogFormat::Json) {
        const LogLevel level = r.status >= 500 ? LogLevel::Error : LogLevel::Info;
        std::string line = "{\"time\":" + jsonString(isoTime(time)) + ",\"level\":\"" +
                           levelName(level) + "\",\"client\":" + jsonString(r.client) +
                           (user.empty() ? "" : ",\"user\":" + jsonString(user)) +
                           ",\"method\":" + (method.empty() ? "null" : jsonString(method)) +
                           ",\"path\":" + (target.empty() ? "null" : jsonString(target)) +
                           ",\"status\":" + (r.status ? std::to_string(r.status) : "null") +
                           ",\"bytes\":" + std::to_string(r.bytes) +
                           ",\"duration_ms\":" + milliseconds(r.duration);
        if (!reason.empty()) {
            line += ",\"reason\":" + jsonString(reason);
        }
        return line + '}';
    }
    // A signed-in user goes before the address, as in mail addresses: "alice@10.0.0.5".
    std::string line = plainTime(time) + ' ' + (user.empty() ? "" : user + '@') + r.client + ' ' +
                       (method.empty() ? "-" : method) + ' ' + (target.empty() ? "-" : target) +
                       ' ' + (r.status ? std::to_string(r.status) : "-") + ' ' +
                       std::to_string(r.bytes) + ' ' + milliseconds(r.duration) + "ms";
    if (!reason.empty()) {
        line += " \"" + reason + '"';
    }
    return line;
}

std::string formatMessage(std::string_view message, LogLevel level, LogFormat format,
                          std::chrono::system_clock::time_point time) {
    // The HTTP library ends its messages with a line break of its own.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.remove_suffix(1);
    }
    const std::string text = printable(message, 500);
    return format == LogFormat::Json
               ? "{\"time\":" + jsonString(isoTime(time)) + ",\"level\":\"" + levelName(level) +
                     "\",\"message\":" + jsonString(text) + '}'
               : plainTime(time) + " server: " + text;
}

void RequestLog::write(const RequestRecord& record) {
    if (metrics_) {
        metrics_->request(record.status, record.duration);
    }
    if (out_) {
        line(formatRequest(record, format_, std::chrono::system_clock::now()));
    }
}

void RequestLog::note(std::string_view message, LogLevel level) {
    if (out_) {
        line(formatMessage(message, level, format_, std::chrono::system_clock::now()));
    }
}

void RequestLog::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    *out_ << text << '\n' << std::flush;
}

} // namespace vcserver
