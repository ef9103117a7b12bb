#include "service/account_store.h"

#include "service/postgres_store.h"
#include "service/sqlite_store.h"

namespace service {

bool AccountStore::IsDatabaseUri(const std::string& where) {
    return where.starts_with("postgresql://") || where.starts_with("postgres://");
}

std::unique_ptr<AccountStore> AccountStore::Open(const std::string& where, std::string& error,
                                                 std::ostream* log) {
    return IsDatabaseUri(where) ? PostgresStore::Open(where, error)
                                : SqliteStore::Open(where, error, log);
}

std::optional<Account> AccountStore::Find(const std::string& name) {
    Account account;
    if (Look(name, account) != Presence::Found) {
        return std::nullopt;
    }
    return account;
}

AccountStore::Presence AccountStore::PresenceOf(bool read, std::vector<Account>& rows,
                                                Account& out) {
    if (!read) {
        return Presence::Unknown;
    }
    if (rows.empty()) {
        return Presence::Absent;
    }
    out = std::move(rows.front());
    return Presence::Found;
}

AccountStore::Recording AccountStore::RecordingOf(int changed) {
    return changed > 0    ? Recording::Recorded
           : changed == 0 ? Recording::AccountChanged
                          : Recording::Failed;
}

}  // namespace service
