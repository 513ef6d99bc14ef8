#include "URLEncode.h"

#include "../platform/Text.h"

namespace tavik {

std::string URLEncode(const std::string& text) {
    return platform::percentEncode(text, "*-._", true);
}

} // namespace tavik
