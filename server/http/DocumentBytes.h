#pragma once

#include "statement/LoadDocumentWriter.h"

#include <mutex>
#include <string>
#include <string_view>

namespace vcserver {

// The bytes of one built load document, shared by every answer that sends them, so a built
// document can be kept and sent again. The gzip form is made once, for the first client that
// takes it.
class DocumentBytes {
public:
    explicit DocumentBytes(DocumentText plain) : plain_(std::move(plain)) {}
    explicit DocumentBytes(std::string_view plain) : plain_(plain) {}

    std::string_view plain() const { return plain_.view(); }
    const std::string& gzipped() const; // safe from many threads

private:
    DocumentText plain_;
    mutable std::once_flag packing_;
    mutable std::string gzipped_;
};

} // namespace vcserver
