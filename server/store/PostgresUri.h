#pragma once

#include <string>
#include <string_view>

namespace vcserver {

// True for a PostgreSQL connection URI: postgresql://... or postgres://...
bool isPostgresUri(std::string_view db);

// The URI with its password (in the user part or a password= parameter) shown as "***", fit
// for messages and logs.
std::string redactedUri(std::string_view uri);

// message with every password the URI carries, and the URI itself, made unreadable; libpq's
// messages may quote pieces of the connection string.
std::string scrubbed(std::string message, std::string_view uri);

// One line: line breaks and runs of white space become single spaces, trimmed.
std::string oneLine(std::string_view text);

} // namespace vcserver
