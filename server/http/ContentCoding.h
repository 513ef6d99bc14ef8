#pragma once

#include <string>
#include <string_view>

namespace vcserver {

// Whether an Accept-Encoding value takes gzip: named (or "*") with a weight above zero.
bool acceptsGzip(std::string_view acceptEncoding);

// The text as one gzip member (RFC 1952), as Content-Encoding: gzip sends it.
std::string gzip(std::string_view text);

} // namespace vcserver
