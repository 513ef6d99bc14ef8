#pragma once

#include "domain/CommentChange.h"
#include "statement/DateText.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vcserver {

// Longer comments are refused; characters count after the body's Windows-1252 decoding.
inline constexpr std::size_t kMaxCommentCharacters = 32'000;

struct ParsedStatement {
    std::optional<Statement> statement;
    std::string error; // one line, set when statement is empty
};

// The checks a statement's values pass, shared with the other ways comments come in (the CSV
// import). Each gives the refusal as a clause ("the vendor key may not be Null."), empty when
// the value is fine.
//
// A vendor key: ASCII letters, digits, "_", "-" and ".", at least one letter or digit, not
// Null, at most 255 characters.
std::string vendorKeyProblem(std::string_view key);
// A comment: at most kMaxCommentCharacters characters of UTF-8, no control character other
// than tab and line breaks.
std::string commentProblem(std::string_view utf8);
// A date: Null (empty text), or a date parseDateText reads; `which` names it ("effective").
std::string dateProblem(std::string_view which, std::string_view text,
                        std::optional<CalendarDate>& date);

// Recognises the insert batch, the update and the delete the control sends, and nothing
// else. Whitespace runs and the letter case of keywords and names may vary; values must be
// literals. Bare vendor keys are made of ASCII letters, digits, "_", "-" and "."; inside a
// quoted string a doubled apostrophe stands for one apostrophe.
ParsedStatement parseStatement(std::string_view sql);

} // namespace vcserver
