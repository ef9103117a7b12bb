#include "service/store/account_store.h"

namespace service {

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
