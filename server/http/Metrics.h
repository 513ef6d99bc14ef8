#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vcserver {

// What the server counts for a scraper, shown in the Prometheus text format. Safe from any
// thread; every count only goes up, but for the open connections.
class Metrics {
public:
    enum class Statement { Done, Refused, Rejected, Busy, Failed };
    enum class StoreError { Failed, Busy };
    // How a load was answered: from a kept document, from one built for it, or as unchanged.
    enum class Load { Kept, Built, Unchanged };
    // The kept documents now.
    struct Kept {
        std::size_t bytes = 0;
        std::size_t entries = 0;
    };

    Metrics();

    // A request ended; status 0 when no answer went out.
    void request(int status, std::chrono::steady_clock::duration took);
    void statement(Statement outcome);
    void storeError(StoreError kind);
    void load(Load how);
    void connectionOpened();
    void connectionClosed();

    std::string render(const Kept& kept) const;

    // The upper bounds of the latency histogram's buckets, in seconds.
    static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                        0.1,   0.25,   0.5,   1,    2.5,   10};

private:
    const std::int64_t startSeconds_;
    mutable std::mutex statusMutex_;
    std::map<int, std::uint64_t> byStatus_;
    std::array<std::atomic<std::uint64_t>, kBuckets.size()> buckets_{};
    std::atomic<std::uint64_t> requests_{0};
    std::atomic<std::uint64_t> microseconds_{0};
    std::array<std::atomic<std::uint64_t>, 5> statements_{};
    std::array<std::atomic<std::uint64_t>, 2> storeErrors_{};
    std::array<std::atomic<std::uint64_t>, 3> loads_{};
    std::atomic<std::int64_t> connections_{0};
};

} // namespace vcserver
