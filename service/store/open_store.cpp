#include "service/store/open_store.h"

#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"

namespace service {

bool IsDatabaseUri(const std::string& where) {
    return where.starts_with("postgresql://") || where.starts_with("postgres://");
}

std::unique_ptr<AccountStore> OpenAccountStore(const std::string& where, std::string& error,
                                               std::ostream* log) {
    return IsDatabaseUri(where) ? PostgresStore::Open(where, error)
                                : SqliteStore::Open(where, error, log);
}

}  // namespace service
