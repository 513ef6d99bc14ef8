#pragma once

#include <memory>
#include <string>
#include <vector>

// The XML document component: a blocking HTTP GET of a URL, parsed keeping the child-node
// positions of the document (whitespace-only text dropped).
namespace tavik::platform {

class XmlNode {
public:
    // The node name: the element's tag, "#text", "#comment", "#cdata-section",
    // or the processing instruction's target.
    std::string nodeName() const;
    std::vector<XmlNode> childNodes() const;
    // The child at a position counted from 0; throws when there is none.
    XmlNode item(int position) const;
    // The concatenated text of the node and all its descendants.
    std::string text() const;

private:
    friend class XmlDocument;
    explicit XmlNode(const void* node) : node_(node) {}
    const void* node_; // pugi::xml_node_struct, owned by the document
};

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
    // Parses a document from memory, with the same rules as load.
    bool loadXml(const std::string& xml);
    // Why the last load or loadXml left the document empty; empty after a success.
    const std::string& failure() const;
    // The root element; throws when the document is empty.
    XmlNode documentElement() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tavik::platform
