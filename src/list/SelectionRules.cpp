#include "SelectionRules.h"

#include "../common/Text.h"

namespace tavik {

int MatchingEntry(int count, const std::function<std::string(int)>& entryText,
                  std::string_view text) {
    for (int i = 0; i < count; ++i)
        if (entryText(i) == text)
            return i;
    return -1;
}

std::string CommentSequenceKey(std::string_view cell) {
    const std::string_view text = common::trimSpaces(cell);
    const std::size_t digits = text.starts_with('-') ? 1 : 0;
    if (text.size() == digits ||
        text.find_first_not_of("0123456789", digits) != std::string_view::npos)
        return {};
    return std::string(text);
}

} // namespace tavik
