#include "service/store/account_store.h"

namespace service {

std::string HostAddresses::Addresses() const {
    const char* comma = !lastAddress.empty() && !lastAddress6.empty() ? "," : "";
    return lastAddress + comma + lastAddress6;
}

const Host* Account::FindHost(const std::string& label) const {
    for (const Host& host : hosts) {
        if (host.label == label) {
            return &host;
        }
    }
    return nullptr;
}

AddressUpdate AddressUpdate::Of(const std::string& address) {
    if (address.find(':') != std::string::npos) {
        return {std::nullopt, address};
    }
    return {address, std::nullopt};
}

bool AddressUpdate::Changes(const HostAddresses& host) const {
    return (v4 && *v4 != host.lastAddress) || (v6 && *v6 != host.lastAddress6);
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

std::vector<std::string> AccountStore::RecordParameters(const std::string& name,
                                                        const std::string& provedHash,
                                                        const HostUpdate& update,
                                                        const std::string& from,
                                                        std::int64_t when) {
    const AddressUpdate& addresses = update.addresses;
    std::vector<std::string> params{name,
                                    addresses.v4.value_or(""),
                                    addresses.v6.value_or(""),
                                    std::to_string(when),
                                    addresses.v4 ? "1" : "0",
                                    addresses.v6 ? "1" : "0",
                                    provedHash,
                                    from};
    if (!update.label.empty()) {
        params.push_back(update.label);
    }
    return params;
}

std::vector<std::string> AccountStore::SessionBounds(std::int64_t now) {
    return {std::to_string(now - kSessionIdleSeconds), std::to_string(now - kSessionLifeSeconds)};
}

AccountStore::Recording AccountStore::RecordingOf(int changed) {
    return changed > 0    ? Recording::Recorded
           : changed == 0 ? Recording::AccountChanged
                          : Recording::Failed;
}

}  // namespace service
