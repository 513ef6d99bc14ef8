#include "http/ContentCoding.h"

#include "common/Text.h"

#include <zlib.h>

#include <stdexcept>

namespace vcserver {

namespace {

using tavik::common::equalsIgnoreCase;
using tavik::common::trimBlanks;

// A weight of zero ("q=0", "q=0.000") refuses the coding; anything else takes it.
bool refused(std::string_view parameters) {
    while (!parameters.empty()) {
        const auto semicolon = parameters.find(';');
        const std::string_view p = trimBlanks(parameters.substr(0, semicolon));
        parameters = semicolon == std::string_view::npos ? std::string_view()
                                                         : parameters.substr(semicolon + 1);
        const auto equals = p.find('=');
        if (equals == std::string_view::npos ||
            !equalsIgnoreCase(trimBlanks(p.substr(0, equals)), "q")) {
            continue;
        }
        const std::string_view q = trimBlanks(p.substr(equals + 1));
        return !q.empty() && q.find_first_not_of("0.") == std::string_view::npos;
    }
    return false;
}

// zlib's default level: on a 10,000-comment document it sends half the bytes of the fastest
// level for twice its processor time (about 16 ms), a good trade on a slow link, and a built
// document is compressed only once.
constexpr int kLevel = Z_DEFAULT_COMPRESSION;

} // namespace

bool acceptsGzip(std::string_view acceptEncoding) {
    bool star = false;
    while (!acceptEncoding.empty()) {
        const auto comma = acceptEncoding.find(',');
        const std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding =
            comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const auto semicolon = item.find(';');
        const std::string_view coding = trimBlanks(item.substr(0, semicolon));
        const bool takes =
            semicolon == std::string_view::npos || !refused(item.substr(semicolon + 1));
        if (equalsIgnoreCase(coding, "gzip") || equalsIgnoreCase(coding, "x-gzip")) {
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
