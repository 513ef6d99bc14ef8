#pragma once

#include <atomic>
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The XML document component: a blocking HTTP GET of a URL, parsed keeping the child-node
// positions of the document (whitespace-only text dropped).
namespace tavik::platform {

class XmlNodeList;
struct FetchedDocument;

class XmlNode {
public:
    // The node name: the element's tag, "#text", "#comment", "#cdata-section",
    // or the processing instruction's target.
    std::string nodeName() const;
    XmlNodeList childNodes() const;
    // The child at a position counted from 0; throws when there is none.
    XmlNode item(int position) const;
    // The concatenated text of the node and all its descendants.
    std::string text() const;

private:
    friend class XmlDocument;
    friend class XmlNodeList;
    XmlNode(const void* node, std::shared_ptr<const void> part, const void* parted = nullptr)
        : node_(node), part_(std::move(part)), parted_(parted) {}
    const void* node_;                 // pugi::xml_node_struct
    std::shared_ptr<const void> part_; // the separately parsed part it lives in, if any
    const void* parted_;               // the document, on the root of one parsed in parts
};

// The child nodes of a node, in document order. The children of a large document's root
// are parsed a part at a time as they are reached, so a walk over them holds one part.
class XmlNodeList {
public:
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // The node at a position counted from 0; throws when there is none.
    XmlNode operator[](std::size_t position) const;

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = XmlNode;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = XmlNode;
        XmlNode operator*() const { return (*list_)[position_]; }
        const_iterator& operator++() {
            ++position_;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return position_ == other.position_; }

    private:
        friend class XmlNodeList;
        const_iterator(const XmlNodeList* list, std::size_t position)
            : list_(list), position_(position) {}
        const XmlNodeList* list_;
        std::size_t position_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    friend class XmlNode;
    std::vector<const void*> nodes_;   // the children of an ordinary node
    std::shared_ptr<const void> part_; // the part they live in, if any
    const void* parted_ = nullptr;     // or the document whose root's children come in parts
};

// How a document's bytes are read. The parser knows no Windows-1252: a document declared so
// is converted to UTF-8 first. So is a document meant as UTF-8 whose bytes are not, which a
// server wrote in its ANSI code page; converting it keeps its texts instead of passing broken
// UTF-8 on. (UTF-16 and UTF-32 documents hold zero bytes and are left to the parser, as is
// ISO-8859-1. The parser reads any other name a declaration gives as UTF-8, so such a
// document loads only when its bytes are UTF-8.)
struct DocumentEncoding {
    enum class Reading { Utf8, Windows1252, AsDeclared };
    std::string declared; // what the XML declaration names, in lower case; empty for nothing
    Reading reading = Reading::Utf8;
};
DocumentEncoding documentEncoding(std::string_view xml);

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Fetches and parses the document. A failed fetch (no connection, time limit, a status
    // other than 2xx) or a body that is not well-formed XML leaves the document empty.
    // Returns whether a document was loaded.
    bool load(const std::string& url);
    // Parses a document fetched for the load (fetchForLoad, BackgroundFetch); one that cannot
    // be loaded leaves the document empty with the fetch's reason.
    bool load(FetchedDocument fetched);
    // Parses a document from memory, with the same rules as load. A text moved in is parsed
    // where it lies, without a copy.
    bool loadXml(std::string xml);
    // Why the last load or loadXml left the document empty; empty after a success.
    const std::string& failure() const;
    // The root element; throws when the document is empty.
    XmlNode documentElement() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tavik::platform
