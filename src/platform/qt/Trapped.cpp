#include "../RuntimeError.h"

#include "Logging.h"

#include <cstring>

namespace tavik::platform {

namespace {

// The handlers that load and those that end a statement log where their part of the library
// logs; every other handler belongs to the widget.
const QLoggingCategory& categoryOf(const char* handler) {
    if (std::strcmp(handler, "LoadData") == 0)
        return qt::lcLoad();
    if (std::strcmp(handler, "Inet1_StateChanged") == 0)
        return qt::lcStatement();
    return qt::lcWidget();
}

} // namespace

void Trapped(const char* handler, const std::exception& error) noexcept {
    if (dynamic_cast<const RuntimeError*>(&error))
        return;
    try {
        qCWarning(categoryOf(handler), "%s ended on an unexpected error: %s", handler,
                  error.what());
    } catch (...) {
        // The log is best effort; the handler has ended either way.
    }
}

} // namespace tavik::platform
