// The dyndns2 update (/nic/update) that routers and dynamic-DNS daemons
// speak: the names and address a request gives, which of them the account
// may update, and the reply's lines.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "service/store/account_store.h"

namespace service {

inline constexpr const char* kDynUpdatePath = "/nic/update";
inline constexpr std::size_t kMaxDynNames = 20;

struct DynRequest {
    std::vector<std::string> names;  // as sent, in order
    AddressUpdate addresses;         // canonical; both empty for offline
    std::string shown;               // the addresses as the reply lines echo them
    // When a host's update token proved the request, that host's label: no
    // other name may be updated. Empty when the password proved it.
    std::string tokenHost;
};

enum class DynParse { Ok, TooManyNames, NotAnAddress };

// Reads a request's query; the caller's address is taken when it gives none.
// myip holds one address, or one of each family joined by a comma; myipv6
// gives the IPv6 one too. Two of one family, or anything that is not an
// address, is NotAnAddress.
DynParse ParseDynRequest(std::string_view query, const std::string& caller, DynRequest& out);

// Where the hosts' names are: LABEL.ZONE, or LABEL alone without a zone.
struct HostNaming {
    std::string zone;  // as ZoneName gives it; empty when there is none
    std::set<std::string> reserved;
};

// Whether label (in any case) is the account's own host: its login, when DNS
// could hold it as the account's (a valid label of no other account and,
// with a zone, not one of the zone's own).
bool IsOwnHost(const Account& account, const std::string& label, const HostNaming& naming);

// The label of a name under the zone, in lower case; none when it is not one.
std::optional<std::string> DynLabel(const std::string& name, const HostNaming& naming);

// The label of the account's host whose update token token is (the login's
// own in lower case, or one of account.hosts); none when it is no host's.
std::optional<std::string> TokenHost(const std::string& token, const Account& account);

// What one name of a request is to an account: its own host, another of its
// hosts (label), a name that is not a host the request may update, or one
// not under the zone.
enum class DynName { Own, Host, NoHost, NotFqdn };
struct DynTarget {
    DynName kind;
    std::string label;  // the other host's
};
DynTarget ClassifyDynName(const std::string& name, const Account& account, const HostNaming& naming,
                          const std::string& tokenHost);

// What a proved request records: each host it names once, when that gives
// the host an address it does not have. before is the account as it stood,
// with its hosts.
std::vector<HostUpdate> DynUpdates(const DynRequest& request, const std::vector<DynTarget>& targets,
                                   const Account& before);

// The reply's body for a proved request: one line per name, in its order.
std::string DynReplyLines(const DynRequest& request, const std::vector<DynTarget>& targets,
                          const Account& before);

}  // namespace service
