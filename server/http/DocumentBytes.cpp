#include "http/DocumentBytes.h"

#include "http/ContentCoding.h"

namespace vcserver {

const std::string& DocumentBytes::gzipped() const {
    std::call_once(packing_, [this] { gzipped_ = gzip(plain()); });
    return gzipped_;
}

} // namespace vcserver
