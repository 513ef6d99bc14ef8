#include "CommentStore.h"
#include "PostgresUri.h"

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

std::unique_ptr<CommentStore> openStore(const std::string& db, std::size_t connections) {
    if (isPostgresUri(db)) {
        return openPostgresStore(db, connections);
    }
    return openSqliteStore(db);
}

} // namespace vcserver
