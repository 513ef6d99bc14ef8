#include "BaselineXmlWellFormed.h"

#include "common/Text.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tavik::baseline {

namespace {

// Bytes that need a closer look in character data.
constexpr std::array<bool, 256> textSpecials = [] {
    std::array<bool, 256> special{};
    for (int c = 0; c < 0x20; ++c)
        special[c] = c != '\t' && c != '\n' && c != '\r';
    special['&'] = special['<'] = special[']'] = true;
    return special;
}();

bool isControl(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 && b != '\t' && b != '\n' && b != '\r';
}

bool isLegalCharacter(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// A control character ends a name, so that it is refused there as everywhere else.
bool isNameByte(char c) {
    return !isControl(c) && c != '=' && c != '>' && c != '/' && c != '<' && c != '"' && c != '\'' &&
           c != ' ' && c != '\t' && c != '\n' && c != '\r';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The bytes of an XML name: ASCII letters, digits, ".-_:", and any character beyond ASCII.
bool isPlainNameByte(char c) {
    return isAsciiLetter(c) || isDigit(c) || c == '.' || c == '-' || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool isNameStart(char c) {
    return isPlainNameByte(c) && !isDigit(c) && c != '.' && c != '-';
}

// `<?xml version="1.x" encoding="..." standalone="yes|no"?>`: the version first and
// required, then the others in that order if at all, each value quoted and well-formed.
bool isDeclaration(std::string_view text) {
    std::size_t pos = 5; // after "<?xml"
    const auto skipSpace = [&] {
        const std::size_t from = pos;
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
        return pos > from;
    };
    // ` name = "value"` with the value checked by `valid`; false (nothing taken) when the
    // name is not next.
    const auto pseudoAttribute = [&](std::string_view name, auto valid) {
        const std::size_t from = pos;
        if (!skipSpace() || !text.substr(pos).starts_with(name)) {
            pos = from;
            return false;
        }
        pos += name.size();
        skipSpace();
        if (pos >= text.size() || text[pos] != '=')
            return false;
        ++pos;
        skipSpace();
        if (pos >= text.size() || (text[pos] != '"' && text[pos] != '\''))
            return false;
        const std::size_t close = text.find(text[pos], pos + 1);
        if (close == std::string_view::npos || !valid(text.substr(pos + 1, close - pos - 1)))
            return false;
        pos = close + 1;
        return true;
    };
    const auto version = [](std::string_view v) {
        if (v.size() < 3 || !v.starts_with("1."))
            return false;
        for (const char c : v.substr(2))
            if (!isDigit(c))
                return false;
        return true;
    };
    const auto encodingName = [](std::string_view name) {
        if (name.empty() || !isAsciiLetter(name[0]))
            return false;
        for (const char c : name)
            if (!isAsciiLetter(c) && !isDigit(c) && c != '.' && c != '_' && c != '-')
                return false;
        return true;
    };
    const auto yesOrNo = [](std::string_view v) { return v == "yes" || v == "no"; };
    if (!pseudoAttribute("version", version))
        return false;
    const std::size_t afterVersion = pos;
    if (!pseudoAttribute("encoding", encodingName) && pos != afterVersion)
        return false;
    const std::size_t afterEncoding = pos;
    if (!pseudoAttribute("standalone", yesOrNo) && pos != afterEncoding)
        return false;
    skipSpace();
    return text.substr(pos) == "?>";
}

class Scanner {
public:
    explicit Scanner(std::string_view xml, XmlOutline* outline = nullptr, std::size_t partBytes = 0)
        : xml_(xml), outline_(outline), partBytes_(partBytes) {}

    bool run() {
        // U+FFFE and U+FFFF, the two characters beyond ASCII that XML does not allow and
        // UTF-8 encodes, are rare enough to look for apart.
        if (xml_.find("\xEF\xBF\xBE") != std::string_view::npos ||
            xml_.find("\xEF\xBF\xBF") != std::string_view::npos)
            return false;
        if (!scan())
            return false;
        if (outline_)
            outline_->partable = partable_ && rootClosed_;
        return true;
    }

private:
    bool scan() {
        while (pos_ < xml_.size()) {
            const char c = xml_[pos_];
            if (!textSpecials[static_cast<unsigned char>(c)]) {
                ++pos_;
                continue;
            }
            if (c == '&') {
                if (!reference())
                    return false;
            } else if (c == '<') {
                if (!markup())
                    return false;
            } else if (c == ']') {
                if (at("]]>"))
                    return false;
                ++pos_;
            } else {
                return false; // a control character
            }
        }
        return true;
    }

    bool at(std::string_view text) const { return xml_.substr(pos_).starts_with(text); }

    // Skips to just after `end`; false when it never comes or a control character does.
    bool skipPast(std::string_view end) {
        const std::size_t found = xml_.find(end, pos_);
        if (found == std::string_view::npos)
            return false;
        for (std::size_t i = pos_; i < found; ++i)
            if (isControl(xml_[i]))
                return false;
        pos_ = found + end.size();
        return true;
    }

    // "&lt;", "&#65;", "&#x41;" and the other predefined entities; nothing else.
    bool reference() {
        const std::size_t semicolon = xml_.find(';', pos_);
        if (semicolon == std::string_view::npos || semicolon - pos_ > 12)
            return false;
        const std::string_view name = xml_.substr(pos_ + 1, semicolon - pos_ - 1);
        pos_ = semicolon + 1;
        if (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot")
            return true;
        if (name.size() < 2 || name[0] != '#')
            return false;
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty())
            return false;
        std::uint32_t value = 0;
        for (const char d : digits) {
            int digit = -1;
            if (d >= '0' && d <= '9')
                digit = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                digit = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                digit = d - 'A' + 10;
            if (digit < 0 || value > 0x10FFFF)
                return false;
            value = value * (hex ? 16 : 10) + std::uint32_t(digit);
        }
        return isLegalCharacter(value);
    }

    bool markup() {
        if (at("<!--")) {
            pos_ += 4;
            const std::size_t end = xml_.find("--", pos_);
            if (end == std::string_view::npos || xml_.substr(end).size() < 3 ||
                xml_[end + 2] != '>')
                return false; // "--" only as the end of the comment
            return skipPast("-->");
        }
        if (at("<![CDATA[")) {
            pos_ += 9;
            return skipPast("]]>");
        }
        if (at("<?"))
            return processingInstruction();
        if (at("<!")) {
            // pugixml refuses a document type declaration inside an element only, so one
            // would pass in a part parsed on its own.
            if (depth_ > 0)
                partable_ = false;
            return declaration();
        }
        if (at("</")) {
            const std::size_t start = pos_;
            pos_ += 2;
            if (!skipPast(">"))
                return false;
            endElement(start);
            return true;
        }
        return startTag();
    }

    // The target "xml" in any letter case is reserved: only the declaration may use it, and
    // only at the very start of the document (after a byte-order mark at most).
    bool processingInstruction() {
        const std::size_t start = pos_;
        pos_ += 2;
        const std::size_t targetBegin = pos_;
        while (pos_ < xml_.size() && isPlainNameByte(xml_[pos_]))
            ++pos_;
        const std::string_view target = xml_.substr(targetBegin, pos_ - targetBegin);
        if (target.empty() || !isNameStart(target[0]) ||
            (!at("?>") && (pos_ >= xml_.size() || !isSpace(xml_[pos_]))))
            return false;
        if (!skipPast("?>"))
            return false;
        if (!(target.size() == 3 && common::equalsIgnoreCase(target, "xml")))
            return true;
        const bool atStart = start == 0 || (start == 3 && xml_.starts_with("\xEF\xBB\xBF"));
        return atStart && target == "xml" && isDeclaration(xml_.substr(start, pos_ - start));
    }

    // Depth 0 is outside the root, 1 inside it, 2 inside one of its children.
    void startElement(bool empty) {
        if (depth_ == 0) {
            if (rootSeen_ || empty) {
                partable_ = false; // a second root, or one without content
            } else if (outline_) {
                outline_->contentBegin = lastCut_ = pos_;
            }
            rootSeen_ = true;
        }
        if (!empty)
            ++depth_;
        else if (depth_ == 1)
            childEnded();
    }

    void endElement(std::size_t start) {
        if (--depth_ == 1) {
            childEnded();
        } else if (depth_ == 0 && !rootClosed_) {
            rootClosed_ = true;
            if (outline_)
                outline_->contentEnd = start;
        } else if (depth_ < 0) {
            partable_ = false;
        }
    }

    void childEnded() {
        if (outline_ && pos_ - lastCut_ >= partBytes_) {
            outline_->cuts.push_back(pos_);
            lastCut_ = pos_;
        }
    }

    // A document type declaration, with its internal subset and quoted texts.
    bool declaration() {
        int depth = 0;
        for (++pos_; pos_ < xml_.size(); ++pos_) {
            const char c = xml_[pos_];
            if (c == '"' || c == '\'') {
                const std::size_t close = xml_.find(c, pos_ + 1);
                if (close == std::string_view::npos)
                    return false;
                pos_ = close;
            } else if (c == '[') {
                ++depth;
            } else if (c == ']') {
                --depth;
            } else if (c == '>' && depth <= 0) {
                ++pos_;
                return true;
            } else if (isControl(c)) {
                return false;
            }
        }
        return false;
    }

    // Attributes: each name once, each value quoted, with no "<" and sound references.
    bool startTag() {
        ++pos_;
        while (pos_ < xml_.size() && isNameByte(xml_[pos_]))
            ++pos_; // the element's name
        names_.clear();
        bool empty = false; // "/>"
        while (pos_ < xml_.size()) {
            const char c = xml_[pos_];
            if (c == '>') {
                ++pos_;
                startElement(empty);
                return true;
            }
            if (c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                empty = c == '/' || empty;
                ++pos_;
                continue;
            }
            empty = false;
            if (!attribute())
                return false;
        }
        return false;
    }

    bool attribute() {
        const std::size_t start = pos_;
        while (pos_ < xml_.size() && isNameByte(xml_[pos_]))
            ++pos_;
        const std::string_view name = xml_.substr(start, pos_ - start);
        if (name.empty())
            return false;
        for (const std::string_view seen : names_)
            if (seen == name)
                return false;
        names_.push_back(name);
        while (pos_ < xml_.size() && xml_[pos_] != '"' && xml_[pos_] != '\'') {
            const char c = xml_[pos_++];
            if (c != '=' && c != ' ' && c != '\t' && c != '\n' && c != '\r')
                return false;
        }
        if (pos_ >= xml_.size())
            return false;
        const char quote = xml_[pos_++];
        while (pos_ < xml_.size() && xml_[pos_] != quote) {
            const char c = xml_[pos_];
            if (c == '<' || isControl(c))
                return false;
            if (c == '&') {
                if (!reference())
                    return false;
            } else {
                ++pos_;
            }
        }
        return pos_++ < xml_.size();
    }

    std::string_view xml_;
    std::size_t pos_ = 0;
    std::vector<std::string_view> names_;

    XmlOutline* outline_;
    std::size_t partBytes_;
    int depth_ = 0;
    bool rootSeen_ = false;
    bool rootClosed_ = false;
    bool partable_ = true;
    std::size_t lastCut_ = 0;
};

} // namespace

bool isFreeOfLaxMarkup(std::string_view xml) {
    return Scanner(xml).run();
}

bool isFreeOfLaxMarkup(std::string_view xml, XmlOutline& outline, std::size_t partBytes) {
    outline = {};
    return Scanner(xml, &outline, partBytes).run();
}

} // namespace tavik::baseline
