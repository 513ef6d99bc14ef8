#include "CommentStore.h"
#include "PostgresUri.h"

namespace vcserver {

std::unique_ptr<CommentStore> openStore(const std::string& db, std::size_t connections) {
    if (isPostgresUri(db)) {
        return openPostgresStore(db, connections);
    }
    return openSqliteStore(db);
}

} // namespace vcserver
