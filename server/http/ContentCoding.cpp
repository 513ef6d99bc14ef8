#include "http/ContentCoding.h"

#include <zlib.h>

#include <stdexcept>

namespace vcserver {

namespace {

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// A weight of zero ("q=0", "q=0.000") refuses the coding; anything else takes it.
bool refused(std::string_view parameters) {
    while (!parameters.empty()) {
        const auto semicolon = parameters.find(';');
        const std::string_view p = trimmed(parameters.substr(0, semicolon));
        parameters = semicolon == std::string_view::npos ? std::string_view()
                                                         : parameters.substr(semicolon + 1);
        const auto equals = p.find('=');
        if (equals == std::string_view::npos ||
            !equalsIgnoringCase(trimmed(p.substr(0, equals)), "q")) {
            continue;
        }
        const std::string_view q = trimmed(p.substr(equals + 1));
        return !q.empty() && q.find_first_not_of("0.") == std::string_view::npos;
    }
    return false;
}

// Fast compression: the answer is compressed on the request's worker, and the XML's
// repeated tags shrink well at any level.
constexpr int kLevel = 1;

} // namespace

bool acceptsGzip(std::string_view acceptEncoding) {
    bool star = false;
    while (!acceptEncoding.empty()) {
        const auto comma = acceptEncoding.find(',');
        const std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding =
            comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const auto semicolon = item.find(';');
        const std::string_view coding = trimmed(item.substr(0, semicolon));
        const bool takes =
            semicolon == std::string_view::npos || !refused(item.substr(semicolon + 1));
        if (equalsIgnoringCase(coding, "gzip") || equalsIgnoringCase(coding, "x-gzip")) {
            return takes; // named outright: that decides, whatever "*" says
        }
        if (coding == "*") {
            star = takes;
        }
    }
    return star;
}

std::string gzip(std::string_view text) {
    z_stream z{};
    // 15 window bits, plus 16 for the gzip wrapper rather than zlib's.
    if (deflateInit2(&z, kLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("the compressor could not be started");
    }
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("the answer could not be compressed");
    }
    return out;
}

} // namespace vcserver
