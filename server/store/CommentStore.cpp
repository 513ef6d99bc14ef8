#include "store/CommentStore.h"
#include "store/PostgresUri.h"

#include "common/Text.h"

#include <charconv>

namespace vcserver {

void CommentStore::setNotices(StoreNotices sink) {
    std::lock_guard lock(noticesMutex_);
    notices_ = std::move(sink);
}

void CommentStore::notice(const std::string& message) const {
    std::lock_guard lock(noticesMutex_);
    if (notices_) {
        notices_(message);
    }
}

void handOn(const VendorComments& load, LoadReceiver& receiver) {
    receiver.lookups(load.locations, load.types);
    for (const auto& c : load.comments) {
        receiver.comment(
            {c.vendor, c.sequence, c.type, c.location, c.effective, c.expires, c.comment});
    }
}

const char* lookupKindName(LookupKind kind) {
    return kind == LookupKind::Type ? "type" : "location";
}

std::string unknownLookupRefusal(const ImportedComment& row, bool typeKnown) {
    return std::string("no comment ") + (typeKnown ? "location '" : "type '") +
           tavik::common::excerpt(typeKnown ? row.location : row.type) + "' (by code or name)";
}

std::string takenSequenceRefusal(const ImportedComment& row) {
    return "vendor " + tavik::common::excerpt(row.vendor) + " already has comment " +
           std::to_string(*row.sequence);
}

std::optional<std::int64_t> resolveLookup(const std::vector<LookupEntry>& entries,
                                          const std::string& codeOrName) {
    std::int64_t code = 0;
    const char* first = codeOrName.data();
    const char* last = first + codeOrName.size();
    const auto [end, ec] = std::from_chars(first, last, code);
    if (ec == std::errc{} && end == last) {
        for (const auto& e : entries) {
            if (e.code == code) {
                return code;
            }
        }
    }
    // A name: exact first, then ignoring case, so "Billing" and "billing" both may exist.
    for (const auto& e : entries) {
        if (e.name == codeOrName) {
            return e.code;
        }
    }
    std::optional<std::int64_t> found;
    for (const auto& e : entries) {
        if (tavik::common::equalsIgnoreCase(e.name, codeOrName)) {
            if (found) {
                return std::nullopt; // two names differ only in case: ambiguous
            }
            found = e.code;
        }
    }
    return found;
}

std::unique_ptr<CommentStore> openStore(const std::string& db, std::size_t connections) {
    if (isPostgresUri(db)) {
        return openPostgresStore(db, connections);
    }
    return openSqliteStore(db);
}

} // namespace vcserver
