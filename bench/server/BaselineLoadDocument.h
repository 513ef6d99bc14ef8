#pragma once

#include "store/CommentStore.h"

#include <string>
#include <vector>

struct sqlite3;

namespace vcbench {

// The load document's build as it stood before its per-row costs were removed, kept only as
// the benchmark's baseline: same bytes, old speed. The old read joined both lookup tables to
// every comment and copied each row's names beside its texts.
struct BaselineComment {
    std::string vendor;
    std::int64_t sequence = 0;
    std::int64_t type = 0;
    std::string typeName;
    std::int64_t location = 0;
    std::string locationName;
    std::string effective;
    std::string expires;
    std::string comment;
};

struct BaselineRows {
    std::vector<vcserver::LookupEntry> locations;
    std::vector<vcserver::LookupEntry> types;
    std::vector<BaselineComment> comments;
};

// The old read of an SQLite file, on a connection of its own kept open across calls.
class BaselineReader {
public:
    explicit BaselineReader(const std::string& file);
    ~BaselineReader();
    BaselineReader(const BaselineReader&) = delete;
    BaselineReader& operator=(const BaselineReader&) = delete;

    BaselineRows read(const std::string& vendor);

private:
    sqlite3* db_ = nullptr;
};

std::string baselineLoadDocument(const BaselineRows& data);

} // namespace vcbench
