#pragma once

#include <string>
#include <string_view>

namespace tavik {

// The value part of a form-encoded body: letters, digits and "*-._" stay, space is "+".
std::string URLEncode(const std::string& text);

} // namespace tavik
