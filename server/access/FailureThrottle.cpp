#include "access/FailureThrottle.h"

#include <algorithm>

namespace vcserver {

namespace {

// Addresses remembered at most; past it the quietest are forgotten first.
constexpr std::size_t kMaxAddresses = 100'000;

} // namespace

FailureThrottle::FailureThrottle(const SignInLimits& limits) : limits_(limits) {}

FailureThrottle::Clock::duration FailureThrottle::delayAfter(std::size_t failures) const {
    if (failures < limits_.freeSignInFailures) {
        return Clock::duration::zero();
    }
    Clock::duration delay = limits_.signInDelay;
    for (std::size_t i = limits_.freeSignInFailures; i < failures && delay < limits_.maxSignInDelay;
         ++i) {
        delay *= 2;
    }
    return std::min<Clock::duration>(delay, limits_.maxSignInDelay);
}

bool FailureThrottle::forgotten(const Record& r, Clock::time_point now) const {
    return now - r.lastFailure > limits_.signInFailureMemory && now >= r.nextFree;
}

std::optional<FailureThrottle::Clock::time_point> FailureThrottle::admit(const std::string& address,
                                                                         Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto it = records_.find(address);
    if (it == records_.end()) {
        return now;
    }
    Record& r = it->second;
    if (forgotten(r, now)) {
        records_.erase(it);
        return now;
    }
    const auto delay = delayAfter(r.failures);
    if (delay == Clock::duration::zero()) {
        return now;
    }
    const auto at = std::max(now, r.nextFree);
    if (at - now > limits_.maxSignInDelay) {
        return std::nullopt;
    }
    r.nextFree = at + delay;
    return at;
}

void FailureThrottle::failed(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxAddresses && !records_.contains(address)) {
        makeRoom(now);
    }
    Record& r = records_[address];
    if (forgotten(r, now)) {
        r = {};
    }
    ++r.failures;
    r.lastFailure = now;
    r.nextFree = std::max(r.nextFree, now + delayAfter(r.failures));
}

void FailureThrottle::makeRoom(Clock::time_point now) {
    std::erase_if(records_, [&](const auto& entry) { return forgotten(entry.second, now); });
    if (records_.size() >= kMaxAddresses) {
        records_.erase(
            std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
                return a.second.lastFailure < b.second.lastFailure;
            }));
    }
}

} // namespace vcserver
