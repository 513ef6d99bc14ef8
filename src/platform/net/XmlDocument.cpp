#include "../XmlDocument.h"

#include "../../common/CodePage.h"
#include "../../common/Text.h"
#include "../RuntimeError.h"
#include "../TestHooks.h"
#include "DocumentFetch.h"

// The entity limits of expat are declared for a library built with DTD support, as the
// system's is.
#define XML_DTD
#include <expat.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavik::platform {

// The parsed document: its nodes in document order (each element followed by its
// descendants), their texts in one string. Two large blocks instead of a node per
// allocation, so a large document's tree costs few allocations and its memory goes back
// to the system when the document goes.
struct XmlTree {
    enum class Kind : std::uint8_t { Element, Text, CData, Comment, Instruction };
    // Sixteen bytes, so that a large document's nodes take less than its text.
    struct Node {
        struct Value {
            std::uint32_t text, length; // in texts
        };
        struct Span {
            std::uint32_t end; // the index just past its last descendant
            std::uint32_t children;
        };
        union {
            Value value;  // of a text, CDATA section, comment or processing instruction
            Span element; // of an element
        };
        std::uint32_t name; // of an element or processing instruction, in names
        Kind kind;
    };
    static_assert(sizeof(Node) == 16);
    std::vector<Node> nodes; // nodes[0] is the root element
    std::string texts;
    std::vector<std::string> names;

    std::string_view value(const Node& node) const {
        return std::string_view(texts).substr(node.value.text, node.value.length);
    }
    // The index of the node's next sibling, if it has one: just past its descendants.
    std::uint32_t next(std::uint32_t index) const {
        const Node& node = nodes[index];
        return node.kind == Kind::Element ? node.element.end : index + 1;
    }
};

namespace {

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

using CharacterTable = std::array<int, 256>;

// What each byte stands for in a single-byte encoding that keeps ASCII as it is (-1 for a
// byte it leaves unassigned), as the system's iconv reads it; nothing for an encoding it does
// not know, one that reads some bytes only together with others, or one that moves ASCII.
// Windows-1252 is read as the control's code page reads it.
std::optional<CharacterTable> singleByteTable(const std::string& name) {
    CharacterTable table{};
    if (name == "windows-1252" || name == "cp1252") {
        for (int byte = 0; byte < 256; ++byte)
            table[byte] = int(common::unicodeOfAnsi(static_cast<unsigned char>(byte)));
        return table;
    }
    const iconv_t conversion = iconv_open("UTF-32LE", name.c_str());
    if (conversion == iconv_t(-1))
        return std::nullopt;
    bool singleByte = true;
    for (int byte = 0; byte < 256 && singleByte; ++byte) {
        char in = char(byte);
        unsigned char out[8] = {};
        char* inAt = &in;
        char* outAt = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1, outLeft = sizeof out;
        iconv(conversion, nullptr, nullptr, nullptr, nullptr);
        if (iconv(conversion, &inAt, &inLeft, &outAt, &outLeft) == std::size_t(-1)) {
            table[byte] = -1;
            singleByte = errno == EILSEQ;
        } else {
            table[byte] = out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24;
            singleByte = outLeft == sizeof out - 4 && (byte >= 0x80 || table[byte] == byte);
        }
    }
    iconv_close(conversion);
    if (!singleByte)
        return std::nullopt;
    return table;
}

// What the parser is told to read a document as, overriding its declaration; nullptr to
// follow the declaration (or the byte-order mark).
const char* readingOverride(const DocumentEncoding& encoding, std::string_view xml) {
    switch (encoding.reading) {
    case Reading::Windows1252:
        return "windows-1252";
    case Reading::Utf8:
        return encoding.declared == "utf8" ? "UTF-8" : nullptr;
    case Reading::AsDeclared:
        break;
    }
    // The parser reads these itself; any other encoding goes to singleByteEncoding, except
    // that a document declaring a single-byte one whose bytes are UTF-8 is read as UTF-8: a
    // server that names one and writes UTF-8 is read as it writes. (Only where the declared
    // encoding has every byte: otherwise the document is not what it says it is.)
    static constexpr std::string_view readByTheParser[] = {"",       "iso-8859-1", "us-ascii",
                                                           "utf-16", "utf-16le",   "utf-16be"};
    for (const std::string_view name : readByTheParser)
        if (encoding.declared == name)
            return nullptr;
    if (!common::isValidUtf8(xml))
        return nullptr;
    const auto table = singleByteTable(encoding.declared);
    const auto assigned = [&](char byte) {
        return (*table)[static_cast<unsigned char>(byte)] >= 0;
    };
    return table && std::all_of(xml.begin(), xml.end(), assigned) ? "UTF-8" : nullptr;
}

// The encodings the parser does not know itself: the single-byte ones that keep ASCII.
int XMLCALL singleByteEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    std::string lower(name);
    for (char& c : lower)
        c = common::asciiLower(c);
    const auto table = singleByteTable(lower);
    if (!table)
        return XML_STATUS_ERROR;
    std::copy(table->begin(), table->end(), info->map);
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

bool isWhitespace(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; });
}

// Builds the tree from the parser's events. Whitespace-only text is dropped, so that an
// indented document reads as the same document without the indentation; consecutive
// pieces of text (split by the parser at line ends and references) make one text node.
class TreeBuilder {
public:
    explicit TreeBuilder(XmlTree& tree) : tree_(tree) {}

    // The reason the build stopped the parser, if it did.
    const std::string& failure() const { return failure_; }

    static void XMLCALL startElement(void* self, const XML_Char* name, const XML_Char**) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) {
            b.closeText();
            b.open.push_back(b.add(XmlTree::Kind::Element, b.nameIndex(name)));
        });
    }
    static void XMLCALL endElement(void* self, const XML_Char*) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) {
            b.closeText();
            b.tree_.nodes[b.open.back()].element.end = std::uint32_t(b.tree_.nodes.size());
            b.open.pop_back();
        });
    }
    // The text goes into texts at once; its node is added when the text ends, and only
    // when it is not whitespace alone (most of an indented document's texts are).
    static void XMLCALL characters(void* self, const XML_Char* data, int length) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) {
            const std::string_view piece(data, std::size_t(length));
            if (b.textStart == kNone) {
                b.textStart = std::uint32_t(b.tree_.texts.size());
                b.textKind = XmlTree::Kind::Text;
                b.textIsWhitespace = true;
            }
            b.textIsWhitespace = b.textIsWhitespace && isWhitespace(piece);
            b.appendText(piece);
        });
    }
    static void XMLCALL startCdata(void* self) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) {
            b.closeText();
            b.textStart = std::uint32_t(b.tree_.texts.size());
            b.textKind = XmlTree::Kind::CData;
        });
    }
    static void XMLCALL endCdata(void* self) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) { b.closeText(); });
    }
    static void XMLCALL comment(void* self, const XML_Char* data) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) {
            b.closeText();
            if (!b.open.empty()) // those of the prologue and the DTD belong to no element
                b.addValue(XmlTree::Kind::Comment, 0, data);
        });
    }
    static void XMLCALL instruction(void* self, const XML_Char* target, const XML_Char* data) {
        static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) {
            b.closeText();
            if (!b.open.empty())
                b.addValue(XmlTree::Kind::Instruction, b.nameIndex(target), data);
        });
    }

    XML_Parser parser = nullptr;

private:
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

    // Runs one step of the build; a step that fails (no memory, a tree beyond what 32-bit
    // indices hold) stops the parse instead of unwinding through the parser.
    // Once stopped, the parser may still report a little; that is passed over.
    template <typename Step> void guarded(Step step) noexcept {
        if (!failure_.empty())
            return;
        try {
            step(*this);
        } catch (const std::bad_alloc&) {
            failure_ = "not enough memory";
            XML_StopParser(parser, XML_FALSE);
        } catch (const std::exception& error) {
            failure_ = error.what();
            XML_StopParser(parser, XML_FALSE);
        }
    }

    // Adds a node as the last child of the element entered last; an element's span and a
    // value's text are set by the caller.
    std::uint32_t add(XmlTree::Kind kind, std::uint32_t name = 0) {
        if (tree_.nodes.size() >= kNone)
            throw RuntimeError("the document holds too many nodes");
        if (!open.empty())
            ++tree_.nodes[open.back()].element.children;
        const auto index = std::uint32_t(tree_.nodes.size());
        XmlTree::Node& node = tree_.nodes.emplace_back();
        node.kind = kind;
        node.name = name;
        if (kind == XmlTree::Kind::Element)
            node.element = {index + 1, 0};
        return index;
    }

    void addValue(XmlTree::Kind kind, std::uint32_t name, std::string_view value) {
        const auto start = std::uint32_t(tree_.texts.size());
        appendText(value);
        tree_.nodes[add(kind, name)].value = {start, std::uint32_t(value.size())};
    }

    void appendText(std::string_view piece) {
        if (tree_.texts.size() + piece.size() >= kNone)
            throw RuntimeError("the document's text is larger than 4 GiB");
        tree_.texts.append(piece);
    }

    // Ends the text or CDATA section being gathered: it becomes a node, unless it is a
    // text of nothing but whitespace, which goes again.
    void closeText() {
        if (textStart == kNone)
            return;
        const auto length = std::uint32_t(tree_.texts.size()) - textStart;
        if (textKind == XmlTree::Kind::Text && textIsWhitespace)
            tree_.texts.resize(textStart);
        else
            tree_.nodes[add(textKind)].value = {textStart, length};
        textStart = kNone;
    }

    // Element names are few and repeat in a pattern, so the name after the last one found
    // is tried first, then the table; a document of many names is looked up by hash.
    std::uint32_t nameIndex(const XML_Char* text) {
        std::vector<std::string>& names = tree_.names;
        // Compared without measuring the name first: it ends where the known one does.
        const auto matches = [&](std::size_t index) {
            const std::string& known = names[index];
            std::size_t at = 0;
            while (at < known.size() && known[at] == text[at])
                ++at;
            return at == known.size() && text[at] == '\0';
        };
        if (lastName + 1 < names.size() && matches(lastName + 1))
            return ++lastName;
        if (names.size() <= kScannedNames) {
            for (std::uint32_t index = 0; index < names.size(); ++index)
                if (matches(index))
                    return lastName = index;
        } else if (const auto at = nameIndices.find(std::string_view(text));
                   at != nameIndices.end()) {
            return lastName = at->second;
        }
        const std::string_view name(text);
        const auto index = std::uint32_t(names.size());
        names.emplace_back(name);
        nameIndices.emplace(name, index);
        return lastName = index;
    }

    XmlTree& tree_;
    std::vector<std::uint32_t> open; // the elements entered and not yet ended
    // The text or CDATA section being gathered: where it starts in texts, or kNone.
    std::uint32_t textStart = kNone;
    XmlTree::Kind textKind = XmlTree::Kind::Text;
    bool textIsWhitespace = false;
    static constexpr std::size_t kScannedNames = 32;
    std::uint32_t lastName = kNone;
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>()(name);
        }
    };
    std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> nameIndices;
    std::string failure_;
};

// Entities may multiply a document's text at most this many times (once it is 8 MiB), so
// the tree stays within a small multiple of the largest document fetched.
constexpr float kMaxAmplification = 4.0f;

// Parses a document into `tree`; the failure text when it is not well-formed XML.
std::optional<std::string> parseTree(std::string_view xml, XmlTree& tree) {
    const DocumentEncoding encoding = documentEncoding(xml);
    const std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate(readingOverride(encoding, xml)), &XML_ParserFree);
    if (!parser)
        return "the XML parser could not be set up";
    XML_Parser p = parser.get();
    TreeBuilder builder(tree);
    builder.parser = p;
    XML_SetUserData(p, &builder);
    XML_SetElementHandler(p, &TreeBuilder::startElement, &TreeBuilder::endElement);
    XML_SetCharacterDataHandler(p, &TreeBuilder::characters);
    XML_SetCdataSectionHandler(p, &TreeBuilder::startCdata, &TreeBuilder::endCdata);
    XML_SetCommentHandler(p, &TreeBuilder::comment);
    XML_SetProcessingInstructionHandler(p, &TreeBuilder::instruction);
    XML_SetUnknownEncodingHandler(p, &singleByteEncoding, nullptr);
    // Nothing beyond the document is read: no external DTD or entity (no handler for
    // them), and no parameter entity.
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(p, kMaxAmplification);
    tree.texts.reserve(xml.size());
    // Room for the nodes of a document of short elements, so that they are not moved as
    // they grow; what is never reached costs no memory.
    tree.nodes.reserve(xml.size() / 8);

    // kMaxDocumentBytes keeps a fetched document within one call; a larger text in memory
    // goes in pieces.
    constexpr std::size_t kPiece = std::size_t(std::numeric_limits<int>::max()) / 2;
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t piece = std::min(xml.size(), kPiece);
        status = XML_Parse(p, xml.data(), int(piece), piece == xml.size());
        xml.remove_prefix(piece);
    } while (status == XML_STATUS_OK && !xml.empty());
    if (status == XML_STATUS_OK)
        return std::nullopt;
    if (!builder.failure().empty())
        return "the document could not be read: " + builder.failure();
    // Columns counted from 1, as editors count them.
    return "not well-formed XML at line " + std::to_string(XML_GetCurrentLineNumber(p)) +
           ", column " + std::to_string(XML_GetCurrentColumnNumber(p) + 1) + ": " +
           XML_ErrorString(XML_GetErrorCode(p));
}

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

struct XmlDocument::Impl {
    XmlTree tree;
    bool loaded = false;
    std::string failure;
};

namespace {

[[noreturn]] void noObject() {
    throw RuntimeError("Object variable or With block variable not set");
}

} // namespace

std::string XmlNode::nodeName() const {
    const XmlTree::Node& node = tree_->nodes[index_];
    switch (node.kind) {
    case XmlTree::Kind::Text:
        return "#text";
    case XmlTree::Kind::CData:
        return "#cdata-section";
    case XmlTree::Kind::Comment:
        return "#comment";
    case XmlTree::Kind::Element:
    case XmlTree::Kind::Instruction:
        break;
    }
    return tree_->names[node.name];
}

XmlNodeList XmlNode::childNodes() const {
    const XmlTree::Node& node = tree_->nodes[index_];
    return XmlNodeList(tree_, index_ + 1,
                       node.kind == XmlTree::Kind::Element ? node.element.children : 0);
}

XmlNode XmlNode::item(int position) const {
    if (position < 0)
        noObject();
    return childNodes()[std::size_t(position)];
}

std::string XmlNode::text() const {
    const XmlTree::Node& node = tree_->nodes[index_];
    if (node.kind != XmlTree::Kind::Element)
        return std::string(tree_->value(node));
    // Most elements hold one text or none; those need no gathering.
    if (node.element.children == 0)
        return {};
    const XmlTree::Node& first = tree_->nodes[index_ + 1];
    const bool isText = first.kind == XmlTree::Kind::Text || first.kind == XmlTree::Kind::CData;
    if (node.element.children == 1 && isText)
        return std::string(tree_->value(first));
    // The descendants follow the element, in document order.
    std::string text;
    for (std::uint32_t i = index_ + 1; i < node.element.end; ++i) {
        const XmlTree::Node& descendant = tree_->nodes[i];
        if (descendant.kind == XmlTree::Kind::Text || descendant.kind == XmlTree::Kind::CData)
            text += tree_->value(descendant);
    }
    return text;
}

XmlNode XmlNodeList::operator[](std::size_t position) const {
    if (position >= size_)
        noObject();
    if (position < reachedPosition_) {
        reachedPosition_ = 0;
        reachedIndex_ = first_;
    }
    // A node's next sibling follows its last descendant.
    for (; reachedPosition_ < position; ++reachedPosition_)
        reachedIndex_ = tree_->next(reachedIndex_);
    return XmlNode(tree_, reachedIndex_);
}

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::load(const std::string& url) {
    return load(fetchForLoad(url));
}

bool XmlDocument::load(FetchedDocument fetched) {
    if (!fetched.failure.empty()) {
        impl_ = std::make_unique<Impl>();
        impl_->failure = std::move(fetched.failure);
        return false;
    }
    return loadXml(std::move(fetched.body));
}

bool XmlDocument::loadXml(std::string xml) {
    impl_ = std::make_unique<Impl>();
    auto failure = parseTree(xml, impl_->tree);
    if (failure) {
        impl_ = std::make_unique<Impl>();
        impl_->failure = std::move(*failure);
        return false;
    }
    impl_->loaded = true;
    return true;
}

const std::string& XmlDocument::failure() const {
    return impl_->failure;
}

XmlNode XmlDocument::documentElement() const {
    if (!impl_->loaded)
        noObject();
    return XmlNode(&impl_->tree, 0);
}

} // namespace tavik::platform
