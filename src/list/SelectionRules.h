#pragma once

#include <functional>
#include <string>
#include <string_view>

// How the selection fill matches a row to the lookup lists and takes its key, apart from the
// widgets, so that whatever else judges a page's rows (a checker of server pages) matches
// and keys them exactly as the control does.
namespace tavik {

// The first of `count` entries whose text equals `text` exactly: letter case and every space
// count. -1 when none does.
int MatchingEntry(int count, const std::function<std::string(int)>& entryText,
                  std::string_view text);

// A row's CommentSequence as the key of its statements: trimmed of spaces, and empty unless
// it is a whole number (an optional minus sign and digits), so that nothing else from the
// server can become part of a statement.
std::string CommentSequenceKey(std::string_view cell);

} // namespace tavik
