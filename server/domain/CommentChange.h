#pragma once

#include "domain/CalendarDate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace vcserver {

// What the three statements of the control set on a comment.
struct CommentFields {
    std::int32_t type = 0;
    std::int32_t location = 0;
    std::optional<CalendarDate> effective;
    std::optional<CalendarDate> expires;
    std::string comment; // UTF-8
};

// The insert batch: a new comment with the vendor's next sequence.
struct InsertComment {
    std::string vendor;
    CommentFields fields;
};

struct UpdateComment {
    std::string vendor;
    std::int64_t sequence = 0;
    CommentFields fields;
};

struct DeleteComment {
    std::string vendor;
    std::int64_t sequence = 0;
};

// One change to the comments, as the grammar reads it from a statement and the store runs it.
using Statement = std::variant<InsertComment, UpdateComment, DeleteComment>;

} // namespace vcserver
