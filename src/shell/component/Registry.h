#pragma once

// The registry that hosts read to find a class: a folder of small INI files, one per
// registered item, laid out like this:
//
//   CLSID/{clsid}.ini           the class: its library, program id, threading model, ...
//   ProgID/{program id}.ini     the program id's class
//   TypeLib/{libid}.ini         the type library: version, locale, flags, library
//   Interface/{iid}.ini         an interface and the type library that describes it
//
// The folder is $TAVIK_REGISTRY when that is set, otherwise tavik/registry under the XDG
// data home ($XDG_DATA_HOME, by default ~/.local/share).

#include "Guid.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavik::registry {

inline constexpr char EnvironmentVariable[] = "TAVIK_REGISTRY";

std::filesystem::path root();

std::filesystem::path classFile(const Guid& clsid);
std::filesystem::path typeLibFile(const Guid& libid);
std::filesystem::path interfaceFile(const Guid& iid);
// Empty when the program id is not well formed (see isValidProgId).
std::filesystem::path progIdFile(std::string_view progId);

// A program id is a letter followed by up to 38 letters, digits, underscores and full
// stops; nothing else may reach a file name.
bool isValidProgId(std::string_view progId);

// An entry's values by "Section/Key".
using Entry = std::map<std::string, std::string>;

// The entry in a file; nothing when the file is missing or unreadable.
std::optional<Entry> readEntry(const std::filesystem::path& file);

// Writes every entry or none: each goes to a temporary file beside its place first, and
// only when all are written are they renamed into place, in the order given. A failure
// while writing leaves the registry as it was.
bool writeEntries(const std::vector<std::pair<std::filesystem::path, Entry>>& entries);

// Removes the files in the order given; a file already gone is no error.
bool removeEntries(const std::vector<std::filesystem::path>& files);

} // namespace tavik::registry
