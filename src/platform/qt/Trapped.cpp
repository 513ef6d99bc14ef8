#include "../RuntimeError.h"

#include <QLoggingCategory>

namespace tavik::platform {

namespace {
Q_LOGGING_CATEGORY(lcTraps, "tavik.vendorcomment.traps")
} // namespace

void Trapped(const char* handler, const std::exception& error) noexcept {
    if (dynamic_cast<const RuntimeError*>(&error))
        return;
    try {
        qCWarning(lcTraps, "%s ended on an unexpected error: %s", handler, error.what());
    } catch (...) {
        // The log is best effort; the handler has ended either way.
    }
}

} // namespace tavik::platform
