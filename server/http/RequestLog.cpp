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

// "2009-04-01 15:04:05", the text format's first two columns. A busy server writes many
// lines a second: each thread turns a second into text once (the C library's time zone
// conversion takes a lock every thread shares).
std::string plainTime(std::chrono::system_clock::time_point time) {
    thread_local std::time_t second = -1;
    thread_local char text[32];
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    if (t != second) {
        const std::tm tm = localTime(time);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        second = t;
    }
    return text;
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

// The first `limit` bytes of a text, each byte beyond ASCII as "?", and controls too unless
// `controls` keeps them.
std::string ascii(std::string_view text, std::size_t limit, bool controls) {
    std::string out;
    for (const char c : text.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x7F && (controls || byte >= 0x20) ? c : '?';
    }
    if (text.size() > limit) {
        out += "...";
    }
    return out;
}

// A reason or message in JSON keeps its line breaks and other controls, escaped: there they
// cannot split the line.
std::string jsonText(std::string_view text, std::size_t limit) {
    return jsonString(ascii(text, limit, true));
}

// Answers' texts and the HTTP library's messages end with a line break of their own.
std::string_view withoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
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
    return ascii(text, limit, false);
}

std::string formatRequest(const RequestRecord& r, LogFormat format,
                          std::chrono::system_clock::time_point time) {
    const std::string method = printable(r.method, 16);
    const std::string target = printable(r.target, 500);
    const std::string_view reason = withoutLineEnd(r.reason);
    const std::string user = printable(r.user, 64);
    if (format == LogFormat::Json) {
        // A request the server closed without an answer left a client waiting in vain.
        const LogLevel level = r.status >= 500 ? LogLevel::Error
                               : r.status == 0 ? LogLevel::Warning
                                               : LogLevel::Info;
        std::string line = "{\"time\":" + jsonString(isoTime(time)) + ",\"level\":\"" +
                           levelName(level) + "\",\"client\":" + jsonString(r.client) +
                           (user.empty() ? "" : ",\"user\":" + jsonString(user)) +
                           ",\"method\":" + (method.empty() ? "null" : jsonString(method)) +
                           ",\"path\":" + (target.empty() ? "null" : jsonString(target)) +
                           ",\"status\":" + (r.status ? std::to_string(r.status) : "null") +
                           ",\"bytes\":" + std::to_string(r.bytes) +
                           ",\"duration_ms\":" + milliseconds(r.duration);
        if (!reason.empty()) {
            line += ",\"reason\":" + jsonText(reason, 300);
        }
        return line + '}';
    }
    // A signed-in user goes before the address, as in mail addresses: "alice@10.0.0.5".
    std::string line = plainTime(time) + ' ' + (user.empty() ? "" : user + '@') + r.client + ' ' +
                       (method.empty() ? "-" : method) + ' ' + (target.empty() ? "-" : target) +
                       ' ' + (r.status ? std::to_string(r.status) : "-") + ' ' +
                       std::to_string(r.bytes) + ' ' + milliseconds(r.duration) + "ms";
    if (!reason.empty()) {
        line += " \"" + printable(reason, 300) + '"';
    }
    return line;
}

std::string formatMessage(std::string_view message, LogLevel level, LogFormat format,
                          std::chrono::system_clock::time_point time) {
    message = withoutLineEnd(message);
    return format == LogFormat::Json
               ? "{\"time\":" + jsonString(isoTime(time)) + ",\"level\":\"" + levelName(level) +
                     "\",\"message\":" + jsonText(message, 500) + '}'
               : plainTime(time) + " server: " + printable(message, 500);
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

// One write per line, so lines of many threads never interleave and cost one call each.
void RequestLog::line(std::string text) {
    text += '\n';
    std::lock_guard lock(mutex_);
    out_->write(text.data(), static_cast<std::streamsize>(text.size()));
    out_->flush();
}

} // namespace vcserver
