#pragma once

#include "store/CommentStore.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vcserver {

// A document's bytes in one block of their own. Growing the block while writing moves it
// without copying where the allocator can, and never touches room not yet written.
class DocumentText {
public:
    DocumentText() = default;
    explicit DocumentText(std::string_view text);

    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    friend class LoadDocumentWriter;
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, Free> bytes_;
    std::size_t size_ = 0;     // written
    std::size_t capacity_ = 0; // allocated
};

// The load document: root VendorComments; LOC and TYP entries (Code, Name); one GRID per
// comment with VendorID, CommentSequence, Type, TypeName, Location, LocationName, Effective,
// Expires and Comment, dates as M/d/yyyy. UTF-8, indented. Written as the load is read.
class LoadDocumentWriter final : public LoadReceiver {
public:
    // Room for a document of about this many bytes, such as the one it replaces.
    explicit LoadDocumentWriter(std::size_t expectedBytes = 0);

    void lookups(std::vector<LookupEntry> locations, std::vector<LookupEntry> types) override;
    void comment(const CommentRow& row) override;
    std::size_t comments() const { return comments_; }
    // The whole document.
    DocumentText finish() &&;

private:
    // Room for bytes more at the end, written through the pointer; advance() keeps them.
    char* room(std::size_t bytes);
    void advance(const char* end);

    void reallocate(std::size_t capacity);

    DocumentText out_;
    std::size_t expected_;
    bool started_ = false;
    std::size_t comments_ = 0;
    // The lookup names by code, to name each comment's type and location.
    std::vector<LookupEntry> locations_, types_;
};

// The whole document of a load already read.
std::string loadDocument(const VendorComments& data);

} // namespace vcserver
