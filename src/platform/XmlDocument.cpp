#include "XmlDocument.h"

#include "CodePage.h"
#include "CurlRequest.h"
#include "RuntimeError.h"
#include "TestHooks.h"
#include "Text.h"
#include "XmlWellFormed.h"

#include <pugixml.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

namespace tavik::platform {

namespace {

std::atomic<long> connectLimitMs{xmlConnectLimit.count()};
std::atomic<long> transferLimitMs{xmlTransferLimit.count()};

// Comments, processing instructions and CDATA sections stay nodes of their own, so the
// positions of an element's children are those of the document as written. Fragment mode
// keeps text outside the root element, so that hasSingleRoot can refuse it.
constexpr unsigned parseOptions =
    pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;

pugi::xml_node toNode(const void* node) {
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(node)));
}

// The largest document the control reads: room for several hundred thousand comments of
// ordinary length (100,000 come to about 36 MB), while a runaway answer stops before the
// body and its parsed tree use much more than half a gigabyte.
constexpr std::size_t kMaxDocumentBytes = 128 * 1024 * 1024;

// Where a fetch writes its body.
struct Receiver {
    CURL* handle;
    std::string body;
    bool sized = false;
};

// Keeps the body up to the limit; beyond it, the fetch stops with a write error. The
// announced length is reserved at the first piece, so a large body is written once instead
// of being copied at every doubling.
size_t appendBody(char* data, size_t size, size_t count, void* context) {
    auto& receiver = *static_cast<Receiver*>(context);
    const std::size_t length = size * count;
    if (receiver.body.size() + length > kMaxDocumentBytes)
        return 0;
    if (!receiver.sized) {
        receiver.sized = true;
        curl_off_t announced = -1;
        curl_easy_getinfo(receiver.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > 0 && announced <= curl_off_t(kMaxDocumentBytes))
            receiver.body.reserve(std::size_t(announced));
    }
    receiver.body.append(data, length);
    return length;
}

// The body of a successful (2xx) GET, or nothing with the reason in `failure`.
std::optional<std::string> fetch(const std::string& url, std::string& failure) {
    if (!curlReady()) {
        failure = "the HTTP library could not be set up";
        return std::nullopt;
    }
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!curl) {
        failure = "the HTTP library could not be set up";
        return std::nullopt;
    }
    CURL* h = curl.get();
    Receiver receiver{h, {}};
    setUpRequest(h, url, std::chrono::milliseconds(connectLimitMs.load()),
                 std::chrono::milliseconds(transferLimitMs.load()), curl_off_t(kMaxDocumentBytes));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &receiver);
    char details[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, details);
    if (const CURLcode result = curl_easy_perform(h); result != CURLE_OK) {
        failure = result == CURLE_WRITE_ERROR || result == CURLE_FILESIZE_EXCEEDED
                      ? "the document is larger than 128 MiB"
                  : *details ? details
                             : curl_easy_strerror(result);
        return std::nullopt;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        failure = "HTTP status " + std::to_string(status);
        return std::nullopt;
    }
    return std::move(receiver.body);
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
        c = asciiLower(c);
    return name;
}

// The parser knows no Windows-1252: a document declared so is converted to UTF-8 first. So
// is a document meant as UTF-8 whose bytes are not, which a server wrote in its ANSI code
// page; converting it keeps its texts instead of passing broken UTF-8 on. (UTF-16 and
// UTF-32 documents hold zero bytes and are left to the parser.)
bool readAsWindows1252(std::string_view xml) {
    const std::string encoding = declaredEncoding(xml);
    if (encoding == "windows-1252" || encoding == "cp1252")
        return true;
    const bool meantAsUtf8 = encoding.empty() || encoding == "utf-8" || encoding == "utf8";
    return meantAsUtf8 && !xml.starts_with("\xEF\xBB\xBF") && !isValidUtf8(xml) &&
           xml.find('\0') == std::string_view::npos;
}

// UTF-16 and UTF-32 documents (a byte-order mark, or zero bytes among the first) are left
// to the parser; every other document is read byte by byte.
bool isByteOriented(std::string_view xml) {
    return !(xml.starts_with("\xFE\xFF") || xml.starts_with("\xFF\xFE") ||
             xml.substr(0, 4).find('\0') != std::string_view::npos);
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

} // namespace

void setXmlTimeLimitsForTesting(std::chrono::milliseconds connect,
                                std::chrono::milliseconds transfer) {
    connectLimitMs = long(connect.count());
    transferLimitMs = long(transfer.count());
}

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

std::vector<XmlNode> XmlNode::childNodes() const {
    std::vector<XmlNode> children;
    for (const pugi::xml_node child : toNode(node_).children())
        children.push_back(XmlNode(child.internal_object()));
    return children;
}

XmlNode XmlNode::item(int position) const {
    if (position >= 0) {
        int index = 0;
        for (const pugi::xml_node child : toNode(node_).children())
            if (index++ == position)
                return XmlNode(child.internal_object());
    }
    throw RuntimeError("Object variable or With block variable not set");
}

std::string XmlNode::text() const {
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

struct XmlDocument::Impl {
    pugi::xml_document doc;
    std::string text; // the parsed text, which the document's names and values point into
    bool loaded = false;
    std::string failure;

    bool parse(std::string xml);
    void clear() {
        doc.reset();
        text = std::string();
        loaded = false;
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::load(const std::string& url) {
    impl_->clear();
    auto body = fetch(url, impl_->failure);
    return body && impl_->parse(std::move(*body));
}

bool XmlDocument::loadXml(const std::string& xml) {
    impl_->clear();
    return impl_->parse(xml);
}

// Parses the text in place, so the document is not copied once more.
bool XmlDocument::Impl::parse(std::string xml) {
    pugi::xml_parse_result result;
    // pugixml lets through what XML refuses (a bare "&", an undefined entity, a duplicate
    // attribute...); such a document is not well-formed, so it is refused before parsing.
    bool lax = false;
    if (readAsWindows1252(xml)) {
        text = fromAnsi(xml);
        xml = std::string();
        lax = !isFreeOfLaxMarkup(text);
        if (!lax)
            result = doc.load_buffer_inplace(text.data(), text.size(), parseOptions,
                                             pugi::encoding_utf8);
    } else {
        text = std::move(xml);
        lax = isByteOriented(text) && !isFreeOfLaxMarkup(text);
        if (!lax)
            result = doc.load_buffer_inplace(text.data(), text.size(), parseOptions,
                                             pugi::encoding_auto);
    }
    loaded = result && hasSingleRoot(doc);
    if (!loaded) {
        clear();
        failure = lax       ? "not well-formed XML: a reference or markup XML does not allow"
                  : !result ? std::string("not well-formed XML: ") + result.description()
                            : "not well-formed XML: not exactly one root element";
    } else {
        failure.clear();
    }
    return loaded;
}

const std::string& XmlDocument::failure() const {
    return impl_->failure;
}

XmlNode XmlDocument::documentElement() const {
    if (!impl_->loaded)
        throw RuntimeError("Object variable or With block variable not set");
    return XmlNode(impl_->doc.document_element().internal_object());
}

} // namespace tavik::platform
