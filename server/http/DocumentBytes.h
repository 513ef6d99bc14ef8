#pragma once

#include <mutex>
#include <string>

namespace vcserver {

// The bytes of one built load document, shared by every answer that sends them, so a built
// document can be kept and sent again. The gzip form is made once, for the first client that
// takes it.
class DocumentBytes {
public:
    explicit DocumentBytes(std::string plain) : plain_(std::move(plain)) {}

    const std::string& plain() const { return plain_; }
    const std::string& gzipped() const; // safe from many threads

private:
    std::string plain_;
    mutable std::once_flag packing_;
    mutable std::string gzipped_;
};

} // namespace vcserver
