// The load document reader on arbitrary bytes, as the control reads a page's answer:
// - nothing escapes but the control's run-time error;
// - never more rows than GRID elements nor more names than LOC and TYP elements, and a
//   reading that ends without an error has read every one of them;
// - a code written as a plain whole number is that number;
// - the root's text is the text of its children, each reached by position, in order.

#include "control/LoadDocument.h"
#include "platform/RuntimeError.h"
#include "platform/XmlDocument.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace tavik;
using namespace tavik::platform;

namespace {

struct Recorder final : LoadDocumentReader {
    std::vector<std::string> names, rows;
    std::vector<std::int32_t> codes;
    std::optional<std::string> error;
    bool loaded = false;

    void lookupName(Lookup list, const std::string& name) override {
        names.push_back((list == Lookup::Type ? "TYP " : "LOC ") + name);
    }
    void lookupCode(Lookup, std::int32_t code) override { codes.push_back(code); }
    void commentRow(const Row& row) override {
        rows.push_back(row.comment + '\0' + row.type + '\0' + row.location + '\0' + row.effective +
                       '\0' + row.expires + '\0' + row.sequence);
    }
};

// The text is an optional minus sign and one to nine digits, nothing else.
std::optional<std::int32_t> plainWholeNumber(const std::string& text) {
    const std::size_t digits = text.starts_with('-') ? 1 : 0;
    if (text.size() == digits || text.size() - digits > 9 ||
        text.find_first_not_of("0123456789", digits) != std::string::npos)
        return std::nullopt;
    return std::stoi(text);
}

// The text of an element is that of its text, CDATA and element children, in order. (A
// processing instruction is a childless node whose text is its data; a childless element
// has no text.)
std::string textOfChildren(const XmlNode& node) {
    std::string text;
    const XmlNodeList children = node.childNodes();
    for (std::size_t i = 0; i < children.size(); ++i) {
        const XmlNode child = node.item(int(i));
        const std::string name = child.nodeName();
        if (name == "#text" || name == "#cdata-section" ||
            (!name.starts_with('#') && !child.childNodes().empty()))
            text += child.text();
    }
    return text;
}

void read(const std::string& bytes) {
    XmlDocument document;
    Recorder recorder;
    recorder.loaded = document.loadXml(bytes);
    if (!recorder.loaded)
        return;
    try {
        ReadLoadElements(document, recorder);
    } catch (const RuntimeError& error) {
        recorder.error = error.what();
    }

    std::size_t grids = 0;
    std::vector<std::string> codeTexts;
    for (const XmlNode& node : document.documentElement().childNodes()) {
        const std::string name = node.nodeName();
        grids += name == "GRID";
        if (name == "LOC" || name == "TYP") {
            const XmlNodeList children = node.childNodes();
            codeTexts.push_back(children.empty() ? std::string() : children[0].text());
        }
    }
    if (recorder.rows.size() > grids || recorder.names.size() > codeTexts.size() ||
        recorder.codes.size() > recorder.names.size())
        std::abort();
    if (!recorder.error &&
        (recorder.rows.size() != grids || recorder.codes.size() != codeTexts.size()))
        std::abort();
    for (std::size_t i = 0; i < recorder.codes.size(); ++i) {
        const auto plain = plainWholeNumber(codeTexts[i]);
        if (plain && *plain != recorder.codes[i])
            std::abort();
    }
    if (document.documentElement().text() != textOfChildren(document.documentElement()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    read(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
