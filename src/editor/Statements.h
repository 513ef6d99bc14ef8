#pragma once

#include <cstdint>
#include <string>

namespace tavik {

// The three statements the editor sends to the server page, built piece by piece.
// Date texts are empty for no date; the comment is the text as the user wrote it.

std::string InsertStatement(const std::string& vendorID, std::int32_t typeCode,
                            std::int32_t locationCode, const std::string& effective,
                            const std::string& expires, const std::string& comment);

std::string UpdateStatement(const std::string& vendorID, std::int32_t typeCode,
                            std::int32_t locationCode, const std::string& effective,
                            const std::string& expires, const std::string& comment,
                            const std::string& sequence);

// The comment as a statement carries it, and the server keeps it: the text between
// apostrophes cannot hold one, so every apostrophe becomes a back-quote.
std::string CommentValue(std::string comment);

std::string DeleteStatement(const std::string& vendorID, const std::string& sequence);

} // namespace tavik
