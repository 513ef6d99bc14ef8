#pragma once

#include "access/SignInLimits.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vcserver {

// Slows down password guessing from one client address. Its first few failures cost
// nothing; after them each attempt from the address waits its turn, one at a time, the wait
// doubling with every further failure up to a limit. An address forgets its failures after a
// quiet while. Only attempts whose credentials have to be checked are admitted here, so a
// client whose credentials were accepted before is not held up by a neighbour's guessing.
class FailureThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit FailureThrottle(const SignInLimits& limits);

    // When an attempt from the address, arriving now, may be checked; attempts after it wait
    // behind it. Nothing when the wait would be longer than the longest delay.
    std::optional<Clock::time_point> admit(const std::string& address, Clock::time_point now);

    void failed(const std::string& address, Clock::time_point now);

private:
    struct Record {
        std::size_t failures = 0;
        Clock::time_point lastFailure;
        Clock::time_point nextFree;
    };

    Clock::duration delayAfter(std::size_t failures) const;
    bool forgotten(const Record& r, Clock::time_point now) const;
    void makeRoom(Clock::time_point now);

    const SignInLimits limits_;
    std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;
};

} // namespace vcserver
