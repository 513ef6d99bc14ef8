#pragma once

#include <atomic>
#include <cstddef>

namespace vcserver {

// Bytes held for bodies being received and answers being sent, across all connections.
class MemoryBudget {
public:
    explicit MemoryBudget(std::size_t limit) : limit_(limit) {}

    bool take(std::size_t n) {
        std::size_t used = used_.load();
        do {
            if (used > limit_ || n > limit_ - used) {
                return false;
            }
        } while (!used_.compare_exchange_weak(used, used + n));
        return true;
    }

    void give(std::size_t n) { used_ -= n; }

private:
    const std::size_t limit_;
    std::atomic<std::size_t> used_{0};
};

} // namespace vcserver
