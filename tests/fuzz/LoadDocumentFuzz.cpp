// The load document reader on arbitrary bytes, as the control reads a page's answer:
// - nothing escapes but the control's run-time error;
// - never more rows than GRID elements nor more names than LOC and TYP elements, and a
//   reading that ends without an error has read every one of them;
// - a code written as a plain whole number is that number;
// - a document parsed in parts reads exactly as the same document parsed whole.

#include "control/LoadDocument.h"
#include "platform/RuntimeError.h"
#include "platform/TestHooks.h"
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
    bool operator==(const Recorder& other) const {
        return names == other.names && rows == other.rows && codes == other.codes &&
               error == other.error && loaded == other.loaded;
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

Recorder read(const std::string& bytes, std::size_t partBytes) {
    setXmlPartBytesForTesting(partBytes);
    XmlDocument document;
    Recorder recorder;
    recorder.loaded = document.loadXml(bytes);
    if (!recorder.loaded)
        return recorder;
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
    return recorder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // Whole below a megabyte; in parts of a few bytes from a few dozen bytes of content on.
    if (!(read(bytes, xmlPartBytes) == read(bytes, 4)))
        std::abort();
    return 0;
}
