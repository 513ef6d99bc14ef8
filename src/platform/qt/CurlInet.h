#pragma once

#include "../Inet.h"

#include <functional>
#include <memory>

namespace tavik::platform::qt {

// The transfer component on libcurl. State changes are raised through `stateChanged` on the
// thread that created the component, while its event loop or an event pump runs.
std::unique_ptr<Inet> createCurlInet(std::function<void(int state)> stateChanged);

} // namespace tavik::platform::qt
