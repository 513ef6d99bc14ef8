#include "../XmlDocument.h"

#include "../../common/CodePage.h"
#include "../../common/Text.h"
#include "../RuntimeError.h"
#include "../TestHooks.h"
#include "DocumentFetch.h"
#include "XmlWellFormed.h"

#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

namespace tavik::platform {

namespace {

// Comments, processing instructions and CDATA sections stay nodes of their own, so the
// positions of an element's children are those of the document as written. Fragment mode
// keeps text outside the root element, so that hasSingleRoot can refuse it.
constexpr unsigned parseOptions =
    pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;

pugi::xml_node toNode(const void* node) {
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(node)));
}

// The encoding the XML declaration names, in lower case; empty when it names none.
std::string declaredEncoding(std::string_view xml) {
    if (!xml.starts_with("<?xml"))
        return {};
    const std::string_view declaration = xml.substr(0, xml.find("?>"));
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at = declaration.find_first_of("\"'", at);
    if (at == std::string_view::npos)
        return {};
    const std::size_t end = declaration.find(declaration[at], at + 1);
    std::string name(declaration.substr(at + 1, end - at - 1));
    for (char& c : name)
        c = common::asciiLower(c);
    return name;
}

using Reading = DocumentEncoding::Reading;

// UTF-16 and UTF-32 documents (a byte-order mark, or zero bytes among the first) are left
// to the parser; every other document is read byte by byte.
bool isByteOriented(std::string_view xml) {
    return !(xml.starts_with("\xFE\xFF") || xml.starts_with("\xFF\xFE") ||
             xml.substr(0, 4).find('\0') != std::string_view::npos);
}

// pugixml reads UTF-16, UTF-32 and ISO-8859-1 as they are declared, and any other name as
// UTF-8: right for ASCII and UTF-8 bytes, but it would pass any other bytes on as broken
// UTF-8.
bool isReadableAsDeclared(const std::string& name, std::string_view xml) {
    static constexpr std::string_view pugixmlReads[] = {
        "iso-8859-1", "latin1", "utf-16", "utf-16le", "utf-16be", "utf-32", "utf-32le", "utf-32be"};
    for (const std::string_view known : pugixmlReads)
        if (name == known)
            return true;
    return !isByteOriented(xml) || common::isValidUtf8(xml);
}

// A well-formed document has exactly one element at its top level and no text there.
bool hasSingleRoot(const pugi::xml_document& doc) {
    int elements = 0;
    for (const pugi::xml_node node : doc.children()) {
        if (node.type() == pugi::node_element)
            ++elements;
        else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            return false;
    }
    return elements == 1;
}

bool isText(const pugi::xml_node& node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// Appends the text of every text and CDATA node below a node, in document order.
void gatherText(const pugi::xml_node& node, std::string& text) {
    for (const pugi::xml_node child : node.children()) {
        if (isText(child))
            text += child.value();
        else if (child.first_child())
            gatherText(child, text);
    }
}

// One part of a large root's content, parsed on its own as a fragment.
struct ParsedPart {
    std::string text; // a copy: parsing in place changes it
    pugi::xml_document doc;
    std::vector<const void*> nodes; // its top-level nodes, in order
};

std::shared_ptr<const ParsedPart> parsePart(std::string_view text) {
    auto part = std::make_shared<ParsedPart>();
    part->text.assign(text);
    if (!part->doc.load_buffer_inplace(part->text.data(), part->text.size(), parseOptions,
                                       pugi::encoding_utf8))
        return nullptr;
    for (const pugi::xml_node node : part->doc.children())
        part->nodes.push_back(node.internal_object());
    return part;
}

std::atomic<std::size_t> partBytes{xmlPartBytes};
// A root's content is parsed in parts from this many parts' worth on: 1 MiB, a 3 MB tree.
constexpr std::size_t kPartsFrom = 16;

} // namespace

DocumentEncoding documentEncoding(std::string_view xml) {
    DocumentEncoding encoding{declaredEncoding(xml), Reading::AsDeclared};
    const std::string& declared = encoding.declared;
    if (declared == "windows-1252" || declared == "cp1252")
        encoding.reading = Reading::Windows1252;
    else if (!(declared.empty() || declared == "utf-8" || declared == "utf8"))
        encoding.reading = Reading::AsDeclared;
    else if (common::isValidUtf8(xml))
        encoding.reading = Reading::Utf8;
    else if (!xml.starts_with("\xEF\xBB\xBF") && xml.find('\0') == std::string_view::npos)
        encoding.reading = Reading::Windows1252;
    return encoding;
}

void setXmlPartBytesForTesting(std::size_t bytes) {
    partBytes = bytes;
}

// A document is parsed whole, in place. One whose root holds more than sixteen parts' worth
// of children is parsed in parts instead: the document without the root's content, then the
// content a part at a time, each part on its own. Its parsed tree would take three times
// the text, and more than the rows it fills; a part is parsed once to check the whole
// document before anything is read from it, and again when it is reached.
struct XmlDocument::Impl {
    pugi::xml_document doc;
    std::string text;    // what doc was parsed from, in place
    std::string content; // when parsed in parts: the whole document, whose root content the
                         // parts are cut from
    struct Part {
        std::size_t begin, end; // in content
        std::size_t first;      // the position of its first node among the root's children
    };
    std::vector<Part> parts;
    std::size_t partedCount = 0; // the root's children, when parsed in parts
    mutable std::shared_ptr<const ParsedPart> current;
    mutable std::size_t currentIndex = 0;
    bool loaded = false;
    std::string failure;

    bool parse(std::string xml);
    bool parseWhole(pugi::xml_encoding encoding);
    bool parseInParts(const XmlOutline& outline, pugi::xml_encoding encoding);
    std::shared_ptr<const ParsedPart> part(std::size_t index) const;
    XmlNode child(std::size_t position) const;
    std::string partedText() const;
    void clear() {
        doc.reset();
        text = std::string();
        content = std::string();
        parts = {};
        partedCount = 0;
        current.reset();
        loaded = false;
    }
};

namespace {

const XmlDocument::Impl& partedDocument(const void* parted) {
    return *static_cast<const XmlDocument::Impl*>(parted);
}

} // namespace

std::string XmlNode::nodeName() const {
    const pugi::xml_node node = toNode(node_);
    switch (node.type()) {
    case pugi::node_pcdata:
        return "#text";
    case pugi::node_cdata:
        return "#cdata-section";
    case pugi::node_comment:
        return "#comment";
    case pugi::node_document:
        return "#document";
    default:
        return node.name();
    }
}

XmlNodeList XmlNode::childNodes() const {
    XmlNodeList children;
    if (parted_) {
        children.parted_ = parted_;
        return children;
    }
    children.part_ = part_;
    for (pugi::xml_node child = toNode(node_).first_child(); child; child = child.next_sibling())
        children.nodes_.push_back(child.internal_object());
    return children;
}

XmlNode XmlNode::item(int position) const {
    if (position >= 0) {
        if (parted_)
            return partedDocument(parted_).child(std::size_t(position));
        pugi::xml_node child = toNode(node_).first_child();
        for (int index = 0; child && index < position; ++index)
            child = child.next_sibling();
        if (child)
            return XmlNode(child.internal_object(), part_);
    }
    throw RuntimeError("Object variable or With block variable not set");
}

std::string XmlNode::text() const {
    if (parted_)
        return partedDocument(parted_).partedText();
    const pugi::xml_node node = toNode(node_);
    if (node.type() != pugi::node_element && node.type() != pugi::node_document)
        return node.value();
    // Most elements hold one text or none; those need no gathering.
    const pugi::xml_node first = node.first_child();
    if (!first)
        return {};
    if (isText(first) && !first.next_sibling())
        return first.value();
    std::string text;
    gatherText(node, text);
    return text;
}

std::size_t XmlNodeList::size() const {
    return parted_ ? partedDocument(parted_).partedCount : nodes_.size();
}

XmlNode XmlNodeList::operator[](std::size_t position) const {
    if (parted_)
        return partedDocument(parted_).child(position);
    if (position >= nodes_.size())
        throw RuntimeError("Object variable or With block variable not set");
    return XmlNode(nodes_[position], part_);
}

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::load(const std::string& url) {
    return load(fetchForLoad(url));
}

bool XmlDocument::load(FetchedDocument fetched) {
    impl_->clear();
    if (!fetched.failure.empty()) {
        impl_->failure = std::move(fetched.failure);
        return false;
    }
    return impl_->parse(std::move(fetched.body));
}

bool XmlDocument::loadXml(std::string xml) {
    impl_->clear();
    return impl_->parse(std::move(xml));
}

bool XmlDocument::Impl::parse(std::string xml) {
    const DocumentEncoding declared = documentEncoding(xml);
    const Reading reading = declared.reading;
    if (reading == Reading::AsDeclared && !isReadableAsDeclared(declared.declared, xml)) {
        clear();
        failure = "not well-formed XML: the encoding \"" + declared.declared +
                  "\" is not one the control reads";
        return false;
    }
    if (reading == Reading::Windows1252) {
        text = common::fromAnsi(xml);
        xml = std::string();
    } else {
        text = std::move(xml);
    }
    const pugi::xml_encoding encoding =
        reading == Reading::Windows1252 ? pugi::encoding_utf8 : pugi::encoding_auto;
    // pugixml lets through what XML refuses (a bare "&", an undefined entity, a duplicate
    // attribute...); such a document is not well-formed, so it is refused before parsing.
    XmlOutline outline;
    const bool byteOriented = reading == Reading::Windows1252 || isByteOriented(text);
    const bool lax = byteOriented && !isFreeOfLaxMarkup(text, outline, partBytes.load());
    // Parts are parsed as UTF-8, so only a document read as UTF-8 is parsed in parts; and
    // only a large one: a small tree costs less than a second parse of its parts.
    loaded = !lax && reading != Reading::AsDeclared && byteOriented && outline.partable &&
             !outline.cuts.empty() &&
             outline.contentEnd - outline.contentBegin >= kPartsFrom * partBytes.load() &&
             parseInParts(outline, encoding);
    if (!loaded && !lax)
        loaded = parseWhole(encoding);
    if (!loaded) {
        clear();
        if (lax)
            failure = "not well-formed XML: a reference or markup XML does not allow";
    } else {
        failure.clear();
    }
    return loaded;
}

bool XmlDocument::Impl::parseWhole(pugi::xml_encoding encoding) {
    const pugi::xml_parse_result result =
        doc.load_buffer_inplace(text.data(), text.size(), parseOptions, encoding);
    if (result && hasSingleRoot(doc))
        return true;
    failure = !result ? std::string("not well-formed XML: ") + result.description()
                      : "not well-formed XML: not exactly one root element";
    return false;
}

// Parses the document without its root's content, then checks every part of the content.
// Anything that does not parse falls back to the whole document, for its verdict.
bool XmlDocument::Impl::parseInParts(const XmlOutline& outline, pugi::xml_encoding encoding) {
    content = std::move(text);
    const std::string_view whole = content;
    text = std::string(whole.substr(0, outline.contentBegin));
    text += whole.substr(outline.contentEnd);
    bool sound = doc.load_buffer_inplace(text.data(), text.size(), parseOptions, encoding) &&
                 hasSingleRoot(doc) && !doc.document_element().first_child();
    std::size_t begin = outline.contentBegin;
    for (std::size_t i = 0; sound && i <= outline.cuts.size(); ++i) {
        const std::size_t end = i < outline.cuts.size() ? outline.cuts[i] : outline.contentEnd;
        if (end == begin)
            continue;
        const auto parsed = parsePart(whole.substr(begin, end - begin));
        sound = parsed != nullptr;
        if (sound) {
            parts.push_back({begin, end, partedCount});
            partedCount += parsed->nodes.size();
        }
        begin = end;
    }
    if (!sound) {
        doc.reset();
        parts = {};
        partedCount = 0;
        text = std::move(content);
        content = std::string();
    }
    return sound;
}

std::shared_ptr<const ParsedPart> XmlDocument::Impl::part(std::size_t index) const {
    const Part& p = parts[index];
    auto parsed = parsePart(std::string_view(content).substr(p.begin, p.end - p.begin));
    if (!parsed) // it parsed when the document was loaded
        throw RuntimeError("Out of memory");
    return parsed;
}

// A child of the root of a document parsed in parts, from the part that holds it. The part
// last reached is kept, so a walk in order parses each part once.
XmlNode XmlDocument::Impl::child(std::size_t position) const {
    if (position >= partedCount)
        throw RuntimeError("Object variable or With block variable not set");
    const auto holds = [&](std::size_t index) {
        return position >= parts[index].first &&
               (index + 1 == parts.size() || position < parts[index + 1].first);
    };
    if (!current || !holds(currentIndex)) {
        const auto after =
            std::upper_bound(parts.begin(), parts.end(), position,
                             [](std::size_t p, const Part& part) { return p < part.first; });
        currentIndex = std::size_t(after - parts.begin()) - 1;
        current.reset(); // before the next part is parsed, not after
        current = part(currentIndex);
    }
    return XmlNode(current->nodes[position - parts[currentIndex].first], current);
}

std::string XmlDocument::Impl::partedText() const {
    std::string gathered;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto parsed = part(i);
        for (const void* node : parsed->nodes) {
            const pugi::xml_node n = toNode(node);
            if (isText(n))
                gathered += n.value();
            else
                gatherText(n, gathered);
        }
    }
    return gathered;
}

const std::string& XmlDocument::failure() const {
    return impl_->failure;
}

XmlNode XmlDocument::documentElement() const {
    if (!impl_->loaded)
        throw RuntimeError("Object variable or With block variable not set");
    return XmlNode(impl_->doc.document_element().internal_object(), nullptr,
                   impl_->parts.empty() ? nullptr : impl_.get());
}

} // namespace tavik::platform
