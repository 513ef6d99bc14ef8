#include "URLEncode.h"

#include "../common/Text.h"

namespace tavik {

std::string URLEncode(const std::string& text) {
    return common::percentEncode(text, "*-._", true);
}

} // namespace tavik
