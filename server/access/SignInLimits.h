#pragma once

#include <chrono>
#include <cstddef>

namespace vcserver {

// Failed sign-ins from one client address (with users only): the first few are free; then
// each attempt from the address waits its turn, the wait doubling with every failure up to
// the longest. An address forgets its failures after a quiet while.
struct SignInLimits {
    std::size_t freeSignInFailures = 3;
    std::chrono::milliseconds signInDelay{1'000};
    std::chrono::milliseconds maxSignInDelay{30'000};
    std::chrono::milliseconds signInFailureMemory{600'000};
};

} // namespace vcserver
