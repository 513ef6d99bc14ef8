#pragma once

#include <stdexcept>

namespace tavik::platform {

// A run-time failure of a platform operation (a date a picker refuses, focus on a hidden
// widget, a missing selected item, a conversion that overflows...). Handlers that trap
// errors catch it and end quietly; the others let it pass to their caller.
class RuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a handler's error trap does with the failure it caught: a RuntimeError ends the
// handler quietly; anything else is a programming error and is also written to the
// control's log, so that it does not vanish unseen.
void Trapped(const char* handler, const std::exception& error) noexcept;

} // namespace tavik::platform
