#include "statement/Statement.h"

#include "common/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <deque>

namespace vcserver {

namespace {

constexpr std::size_t kMaxKeyLength = 255;

struct Refusal {
    std::string message;
};

[[noreturn]] void refuse(std::string message) {
    throw Refusal{"Statement refused: " + std::move(message)};
}

enum class Kind { Word, Variable, String, Symbol, End };

struct Token {
    Kind kind = Kind::End;
    std::string text;   // a string's value with doubled apostrophes undone
    std::size_t at = 0; // 1-based character position, for messages
};

bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Control characters other than tab and line breaks, in C0, DEL or C1 (UTF-8).
bool isBinaryAt(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x20) {
        return b != '\t' && b != '\r' && b != '\n';
    }
    if (b == 0x7F) {
        return true;
    }
    return b == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
           static_cast<unsigned char>(s[i + 1]) <= 0x9F;
}

// Shows a piece of the statement in a message: printable ASCII only, and short.
std::string excerpt(std::string_view text) {
    return tavik::common::excerpt(text, 24, true);
}

// Splits the statement into tokens, one at a time. The input is UTF-8; positions count
// characters.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view s) : s_(s) {}

    // The next token; End once the text is used up. Errors surface in reading order, so a
    // foreign statement is named as such before its odd characters are.
    Token next() {
        while (i_ < s_.size() && isSpace(s_[i_])) {
            ++i_;
        }
        if (i_ >= s_.size()) {
            return {Kind::End, {}, position(i_)};
        }
        return token();
    }

private:
    std::size_t position(std::size_t byte) {
        // Characters are counted incrementally, as positions mostly come in order.
        if (byte < counted_) {
            counted_ = 0;
            chars_ = 0;
        }
        for (; counted_ < byte; ++counted_) {
            if ((static_cast<unsigned char>(s_[counted_]) & 0xC0) != 0x80) {
                ++chars_;
            }
        }
        return chars_ + 1;
    }

    bool commentMarkerAt(std::size_t i) const {
        const std::string_view rest = s_.substr(i, 2);
        return rest == "--" || rest == "/*";
    }

    Token token() {
        const std::size_t start = i_;
        const char c = s_[i_];
        if (commentMarkerAt(i_)) {
            refuse("comments are not allowed (" + std::string(s_.substr(i_, 2)) + " at character " +
                   std::to_string(position(start)) + ").");
        }
        if (isWordChar(c) || c == '@') {
            ++i_;
            while (i_ < s_.size() && isWordChar(s_[i_])) {
                if (commentMarkerAt(i_)) {
                    refuse("comments are not allowed (-- at character " +
                           std::to_string(position(i_)) + ").");
                }
                ++i_;
            }
            std::string text(s_.substr(start, i_ - start));
            if (c == '@' && text.size() == 1) {
                refuse("unexpected '@' at character " + std::to_string(position(start)) + ".");
            }
            return {c == '@' ? Kind::Variable : Kind::Word, std::move(text), position(start)};
        }
        if (c == '\'') {
            return quoted(start);
        }
        if (std::string_view("(),;=+").find(c) != std::string_view::npos) {
            ++i_;
            return {Kind::Symbol, std::string(1, c), position(start)};
        }
        refuse(unexpectedCharacter(start));
    }

    Token quoted(std::size_t start) {
        std::string value;
        ++i_;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '\'') {
                if (i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
                    value += '\'';
                    i_ += 2;
                    continue;
                }
                ++i_;
                return {Kind::String, std::move(value), position(start)};
            }
            if (isBinary(i_)) {
                refuse("the text holds a control character at character " +
                       std::to_string(position(i_)) + ".");
            }
            value += c;
            ++i_;
        }
        refuse("unterminated string starting at character " + std::to_string(position(start)) +
               ".");
    }

    bool isBinary(std::size_t i) const { return isBinaryAt(s_, i); }

    std::string unexpectedCharacter(std::size_t i) {
        const auto b = static_cast<unsigned char>(s_[i]);
        const std::string where = " at character " + std::to_string(position(i)) + ".";
        if (isBinary(i)) {
            return "the text holds a control character" + where;
        }
        if (b >= 0x20 && b < 0x7F) {
            return "unexpected '" + std::string(1, s_[i]) + "'" + where;
        }
        return "unexpected non-ASCII character" + where;
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::size_t counted_ = 0;
    std::size_t chars_ = 0;
};

std::string notADate(std::string_view which, std::string_view text) {
    return "the " + std::string(which) + " date '" + excerpt(text) +
           "' is not a readable date from " + shortDate(kFirstDate) + " to " +
           shortDate(kLastDate) + ".";
}

std::string describe(const Token& t) {
    switch (t.kind) {
    case Kind::End:
        return "the end of the statement";
    case Kind::String:
        return "a quoted string at character " + std::to_string(t.at);
    default:
        return "'" + excerpt(t.text) + "' at character " + std::to_string(t.at);
    }
}

// A recursive-descent reader of exactly the three statement forms.
class Parser {
public:
    explicit Parser(std::string_view sql) : tokenizer_(sql) {}

    Statement parse() {
        const Token& first = peek();
        if (first.kind == Kind::End) {
            refuse("the statement is empty.");
        }
        if (first.kind == Kind::Word && tavik::common::equalsIgnoreCase(first.text, "DECLARE")) {
            return insert();
        }
        if (first.kind == Kind::Word && tavik::common::equalsIgnoreCase(first.text, "UPDATE")) {
            return update();
        }
        if (first.kind == Kind::Word && tavik::common::equalsIgnoreCase(first.text, "DELETE")) {
            return remove();
        }
        refuse("only the comment insert, update and delete statements are accepted; found " +
               describe(first) + ".");
    }

private:
    InsertComment insert() {
        InsertComment s;
        expect("DECLARE @MaxID INT ; SELECT @MaxID = ( SELECT MAX ( CommentSequence ) FROM "
               "VendorComment WHERE VendorID =");
        const std::string quotedKey = quotedString("the vendor key in quotes");
        expect(") ; SET @MaxID = ISNULL ( @MaxID , 0 ) ; INSERT INTO VendorComment ( VendorID , "
               "CommentSequence , Type , Location , Effective , Expires , Comment , "
               "RecordLastUpdated ) VALUES (");
        s.vendor = bareKey();
        if (quotedKey != s.vendor) {
            refuse("the vendor key of the maximum query ('" + excerpt(quotedKey) +
                   "') differs from the one in VALUES ('" + excerpt(s.vendor) + "').");
        }
        expect(", @MaxID + 1 ,");
        s.fields.type = code("a type code");
        expect(",");
        s.fields.location = code("a location code");
        expect(",");
        s.fields.effective = date("effective");
        expect(",");
        s.fields.expires = date("expires");
        expect(",");
        s.fields.comment = comment();
        expect(", GETDATE ( ) )");
        end();
        return s;
    }

    UpdateComment update() {
        UpdateComment s;
        expect("UPDATE VendorComment SET Type =");
        s.fields.type = code("a type code");
        expect(", Location =");
        s.fields.location = code("a location code");
        expect(", Effective =");
        s.fields.effective = date("effective");
        expect(", Expires =");
        s.fields.expires = date("expires");
        expect(", Comment =");
        s.fields.comment = comment();
        expect(", RecordLastUpdated = GETDATE ( ) WHERE VendorID =");
        s.vendor = bareKey();
        expect("AND CommentSequence =");
        s.sequence = sequence();
        end();
        return s;
    }

    DeleteComment remove() {
        DeleteComment s;
        expect("DELETE FROM VendorComment WHERE VendorID =");
        s.vendor = bareKey();
        expect("AND CommentSequence =");
        s.sequence = sequence();
        end();
        return s;
    }

    const Token& peek() {
        if (i_ == tokens_.size()) {
            tokens_.push_back(tokenizer_.next());
        }
        return tokens_[i_];
    }

    const Token& take() {
        const Token& t = peek();
        if (t.kind != Kind::End) {
            ++i_;
        }
        return t;
    }

    [[noreturn]] void expected(std::string_view what, const Token& found) {
        refuse("expected " + std::string(what) + " but found " + describe(found) + ".");
    }

    // Matches a run of fixed pieces separated by single spaces: "@name" a variable, a single
    // punctuation character a symbol, anything else a keyword or name (letter case ignored).
    void expect(std::string_view pieces) {
        while (!pieces.empty()) {
            const std::size_t space = pieces.find(' ');
            const std::string_view piece = pieces.substr(0, space);
            pieces =
                space == std::string_view::npos ? std::string_view{} : pieces.substr(space + 1);
            const Kind kind = piece[0] == '@'                              ? Kind::Variable
                              : piece.size() == 1 && !isWordChar(piece[0]) ? Kind::Symbol
                                                                           : Kind::Word;
            const Token& t = take();
            if (t.kind != kind || !tavik::common::equalsIgnoreCase(t.text, piece)) {
                expected("'" + std::string(piece) + "'", t);
            }
        }
    }

    std::string quotedString(std::string_view what) {
        const Token& t = take();
        if (t.kind != Kind::String) {
            expected(what, t);
        }
        return t.text;
    }

    std::string bareKey() {
        const Token& t = take();
        const bool hasAlnum = std::any_of(t.text.begin(), t.text.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c));
        });
        if (t.kind != Kind::Word || !hasAlnum) {
            expected("the vendor key (letters, digits, '_', '-' or '.')", t);
        }
        if (std::string problem = vendorKeyProblem(t.text); !problem.empty()) {
            refuse(std::move(problem));
        }
        return t.text;
    }

    std::string comment() {
        std::string text = quotedString("the comment in quotes");
        if (std::string problem = commentProblem(text); !problem.empty()) {
            refuse(std::move(problem));
        }
        return text;
    }

    template <typename Int> Int integer(std::string_view what, bool allowSign) {
        const Token& t = take();
        Int value{};
        const char* first = t.text.data();
        const char* last = first + t.text.size();
        const bool digitsOnly =
            !t.text.empty() &&
            std::all_of(t.text.begin() + (allowSign && t.text[0] == '-' ? 1 : 0), t.text.end(),
                        [](char c) { return c >= '0' && c <= '9'; }) &&
            t.text != "-";
        if (t.kind != Kind::Word || !digitsOnly) {
            expected(what, t);
        }
        const auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc{} || end != last) {
            refuse(std::string(what) + " out of range at character " + std::to_string(t.at) + ".");
        }
        return value;
    }

    std::int32_t code(std::string_view what) { return integer<std::int32_t>(what, true); }

    std::int64_t sequence() {
        return integer<std::int64_t>("a comment sequence (whole number)", false);
    }

    std::optional<CalendarDate> date(std::string_view which) {
        const Token& t = take();
        if (t.kind == Kind::Word && tavik::common::equalsIgnoreCase(t.text, "NULL")) {
            return std::nullopt;
        }
        if (t.kind != Kind::String) {
            expected("Null or the " + std::string(which) + " date in quotes", t);
        }
        std::optional<CalendarDate> parsed;
        if (std::string problem = dateProblem(which, t.text, parsed); !problem.empty() || !parsed) {
            refuse(problem.empty() ? notADate(which, t.text) : std::move(problem));
        }
        return parsed;
    }

    void end() {
        if (peek().kind == Kind::Symbol && peek().text == ";") {
            take();
        }
        if (peek().kind != Kind::End) {
            refuse("nothing may follow the statement; found " + describe(peek()) + ".");
        }
    }

    Tokenizer tokenizer_;
    std::deque<Token> tokens_; // a deque keeps references to earlier tokens valid
    std::size_t i_ = 0;
};

} // namespace

std::string vendorKeyProblem(std::string_view key) {
    const bool wordOnly = std::all_of(key.begin(), key.end(), isWordChar);
    const bool hasAlnum = std::any_of(
        key.begin(), key.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
    if (!wordOnly || !hasAlnum) {
        return "the vendor key '" + excerpt(key) +
               "' is not made of letters, digits, '_', '-' and '.'.";
    }
    if (tavik::common::equalsIgnoreCase(key, "NULL")) {
        return "the vendor key may not be Null.";
    }
    if (key.size() > kMaxKeyLength) {
        return "the vendor key is longer than " + std::to_string(kMaxKeyLength) + " characters.";
    }
    return {};
}

std::string commentProblem(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (isBinaryAt(utf8, i)) {
            return "the comment holds a control character.";
        }
    }
    // Every byte but a continuation byte starts a character.
    const auto characters = std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    });
    if (static_cast<std::size_t>(characters) > kMaxCommentCharacters) {
        return "the comment has " + std::to_string(characters) +
               " characters, more than the 32,000 allowed.";
    }
    return {};
}

std::string dateProblem(std::string_view which, std::string_view text,
                        std::optional<CalendarDate>& date) {
    date.reset();
    if (text.empty()) {
        return {};
    }
    date = parseDateText(text);
    return date ? std::string() : notADate(which, text);
}

ParsedStatement parseStatement(std::string_view sql) {
    try {
        return {Parser(sql).parse(), {}};
    } catch (const Refusal& r) {
        return {std::nullopt, r.message};
    }
}

} // namespace vcserver
