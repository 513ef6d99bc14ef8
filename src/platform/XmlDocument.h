#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

// The XML document component: a blocking HTTP GET of a URL, parsed keeping the child-node
// positions of the document (whitespace-only text dropped).
namespace tavik::platform {

class XmlNodeList;
struct XmlTree;
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
    XmlNode(const XmlTree* tree, std::uint32_t index) : tree_(tree), index_(index) {}
    const XmlTree* tree_; // the document's, valid while the document holds it
    std::uint32_t index_;
};

// The child nodes of a node, in document order. Reaching them in order, or one after
// another forward, costs one step each.
class XmlNodeList {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
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
    XmlNodeList(const XmlTree* tree, std::uint32_t first, std::size_t size)
        : tree_(tree), first_(first), size_(size), reachedIndex_(first) {}
    const XmlTree* tree_;
    std::uint32_t first_; // the first child's index in the tree
    std::size_t size_;
    // The child last reached, from which the next one forward is found.
    mutable std::size_t reachedPosition_ = 0;
    mutable std::uint32_t reachedIndex_;
};

// How a document's bytes are read. A document declared Windows-1252 is read with that code
// page; so is a document meant as UTF-8 whose bytes are not, which a server wrote in its ANSI
// code page: reading it so keeps its texts instead of refusing them. (UTF-16 documents hold
// zero bytes and are left to the parser, as are US-ASCII and ISO-8859-1. A document declaring
// another encoding the system knows is read as UTF-8 when its bytes are UTF-8, and refused
// otherwise.)
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
    // Why the last load or loadXml left the document empty; empty after a success. A document
    // that is not well-formed XML says where and why: "not well-formed XML at line 3,
    // column 5: junk after document element".
    const std::string& failure() const;
    // The root element; throws when the document is empty.
    XmlNode documentElement() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tavik::platform
