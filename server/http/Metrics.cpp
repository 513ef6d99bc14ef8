#include "http/Metrics.h"

#include <algorithm>
#include <cstdio>

namespace vcserver {

namespace {

constexpr const char* kStatementNames[] = {"done", "refused", "rejected", "busy", "failed"};
constexpr const char* kStoreErrorNames[] = {"failed", "busy"};
constexpr const char* kLoadNames[] = {"kept", "built", "unchanged"};

std::string number(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}

void header(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

} // namespace

Metrics::Metrics()
    : startSeconds_(std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count()) {}

void Metrics::request(int status, std::chrono::steady_clock::duration took) {
    {
        std::lock_guard lock(statusMutex_);
        ++byStatus_[status];
    }
    const double seconds = std::chrono::duration<double>(took).count();
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        if (seconds <= kBuckets[i]) {
            ++buckets_[i];
            break; // the buckets are summed up when shown
        }
    }
    microseconds_ += static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(took).count());
    ++requests_;
}

void Metrics::statement(Statement outcome) {
    ++statements_[static_cast<std::size_t>(outcome)];
}

void Metrics::storeError(StoreError kind) {
    ++storeErrors_[static_cast<std::size_t>(kind)];
}

void Metrics::connectionOpened() {
    ++connections_;
}

void Metrics::connectionClosed() {
    --connections_;
}

void Metrics::load(Load how) {
    ++loads_[static_cast<std::size_t>(how)];
}

std::string Metrics::render(const Kept& kept) const {
    std::string out;
    header(out, "vcserver_requests_total", "counter",
           "Requests answered, by HTTP status (\"none\" when the request ended unanswered).");
    {
        std::lock_guard lock(statusMutex_);
        for (const auto& [status, count] : byStatus_) {
            out += "vcserver_requests_total{status=\"" +
                   (status ? std::to_string(status) : std::string("none")) + "\"} " +
                   std::to_string(count) + '\n';
        }
    }
    header(out, "vcserver_request_duration_seconds", "histogram",
           "Time from a request's first line to its end.");
    // The count first: requests that end while this runs then land in no bucket yet rather
    // than leave a bucket above the count.
    const std::uint64_t count = requests_;
    const std::uint64_t micros = microseconds_;
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        cumulative += buckets_[i];
        out += "vcserver_request_duration_seconds_bucket{le=\"" + number(kBuckets[i]) + "\"} " +
               std::to_string(std::min(cumulative, count)) + '\n';
    }
    out += "vcserver_request_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(count) + '\n';
    out += "vcserver_request_duration_seconds_sum " + number(double(micros) / 1e6) + '\n';
    out += "vcserver_request_duration_seconds_count " + std::to_string(count) + '\n';

    header(out, "vcserver_statements_total", "counter",
           "Statements posted, by outcome: done, refused by the database's rules, rejected as "
           "no statement the page takes, busy, failed.");
    for (std::size_t i = 0; i < statements_.size(); ++i) {
        out += std::string("vcserver_statements_total{outcome=\"") + kStatementNames[i] + "\"} " +
               std::to_string(statements_[i].load()) + '\n';
    }
    header(out, "vcserver_store_errors_total", "counter",
           "Database calls that failed, or gave up waiting (busy).");
    for (std::size_t i = 0; i < storeErrors_.size(); ++i) {
        out += std::string("vcserver_store_errors_total{kind=\"") + kStoreErrorNames[i] + "\"} " +
               std::to_string(storeErrors_[i].load()) + '\n';
    }
    header(out, "vcserver_loads_total", "counter",
           "Load documents answered: kept (sent again unchanged), built, unchanged (304).");
    for (std::size_t i = 0; i < loads_.size(); ++i) {
        out += std::string("vcserver_loads_total{from=\"") + kLoadNames[i] + "\"} " +
               std::to_string(loads_[i].load()) + '\n';
    }
    header(out, "vcserver_kept_document_bytes", "gauge",
           "Bytes of load documents kept for loads to come, as counted against --cache-bytes.");
    out += "vcserver_kept_document_bytes " + std::to_string(kept.bytes) + '\n';
    header(out, "vcserver_kept_documents", "gauge", "Load documents kept for loads to come.");
    out += "vcserver_kept_documents " + std::to_string(kept.entries) + '\n';
    header(out, "vcserver_open_connections", "gauge", "Client connections open now.");
    out += "vcserver_open_connections " + std::to_string(connections_.load()) + '\n';
    header(out, "process_start_time_seconds", "gauge", "When the server started, Unix time.");
    out += "process_start_time_seconds " + std::to_string(startSeconds_) + '\n';
    return out;
}

} // namespace vcserver
