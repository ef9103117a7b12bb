#include "service/app/dyndns.h"

#include <algorithm>

#include "service/auth/update_token.h"
#include "service/common/address.h"
#include "service/dns/names.h"
#include "service/http/request_head.h"

namespace service {

namespace {

std::vector<std::string> CommaList(const std::string& text) {
    std::vector<std::string> items;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        if (end > start) {
            items.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return items;
}

}  // namespace

DynParse ParseDynRequest(std::string_view query, const std::string& caller, DynRequest& out) {
    out.names = CommaList(QueryValue(query, "hostname"));
    if (out.names.size() > kMaxDynNames) {
        return DynParse::TooManyNames;
    }
    std::vector<std::string> given = CommaList(QueryValue(query, "myip"));
    const std::string v6 = QueryValue(query, "myipv6");
    if (!v6.empty()) {
        given.push_back(v6);
    }
    if (given.empty()) {
        given.push_back(caller);
    }
    AddressUpdate addresses;
    for (const std::string& text : given) {
        const AddressUpdate one = AddressUpdate::Of(CanonicalAddress(text));
        std::optional<std::string>& family = one.v4 ? addresses.v4 : addresses.v6;
        if ((one.v4 && one.v4->empty()) || family) {
            return DynParse::NotAnAddress;
        }
        family = one.v4 ? one.v4 : one.v6;
        out.shown += (out.shown.empty() ? "" : ",") + text;
    }
    const bool offline = AsciiLower(QueryValue(query, "offline")) == "yes";
    out.addresses = offline ? AddressUpdate::None() : addresses;
    return DynParse::Ok;
}

bool IsOwnHost(const Account& account, const std::string& label, const HostNaming& naming) {
    const bool reserved = !naming.zone.empty() && ReservedLabel(account.name, naming.reserved);
    return AsciiLower(label) == AsciiLower(account.name) && PublishableLabel(account.name) &&
           !reserved && account.olderTwin.empty() && !account.zonesOwn;
}

std::optional<std::string> DynLabel(const std::string& name, const HostNaming& naming) {
    std::string lower = AsciiLower(name);
    if (lower.ends_with('.')) {
        lower.pop_back();
    }
    const std::string suffix =
        naming.zone.empty() ? "" : "." + naming.zone.substr(0, naming.zone.size() - 1);
    if (!lower.ends_with(suffix) || lower.size() == suffix.size()) {
        return std::nullopt;
    }
    std::string label = lower.substr(0, lower.size() - suffix.size());
    if (label.find('.') != std::string::npos) {
        return std::nullopt;
    }
    return label;
}

std::optional<std::string> TokenHost(const std::string& token, const Account& account) {
    if (!account.tokenHash.empty() && TokenMatches(token, account.tokenHash, account.tokenKey)) {
        return AsciiLower(account.name);
    }
    for (const Host& host : account.hosts) {
        if (!host.tokenHash.empty() && TokenMatches(token, host.tokenHash, account.tokenKey)) {
            return host.label;
        }
    }
    return std::nullopt;
}

DynTarget ClassifyDynName(const std::string& name, const Account& account, const HostNaming& naming,
                          const std::string& tokenHost) {
    const std::optional<std::string> label = DynLabel(name, naming);
    if (!label) {
        return {DynName::NotFqdn, ""};
    }
    if (!tokenHost.empty() && *label != tokenHost) {
        return {DynName::NoHost, ""};
    }
    if (IsOwnHost(account, *label, naming)) {
        return {DynName::Own, ""};
    }
    return account.FindHost(*label) != nullptr ? DynTarget{DynName::Host, *label}
                                               : DynTarget{DynName::NoHost, ""};
}

namespace {

// The host a target names, as it stood before.
const HostAddresses& TargetHost(const DynTarget& target, const Account& before) {
    const Host* host = target.kind == DynName::Host ? before.FindHost(target.label) : nullptr;
    return host != nullptr ? *host : static_cast<const HostAddresses&>(before);
}

bool Updatable(const DynTarget& target) {
    return target.kind == DynName::Own || target.kind == DynName::Host;
}

}  // namespace

std::vector<HostUpdate> DynUpdates(const DynRequest& request, const std::vector<DynTarget>& targets,
                                   const Account& before) {
    std::vector<HostUpdate> updates;
    std::set<std::string> named;
    for (const DynTarget& target : targets) {
        if (Updatable(target) && named.insert(target.label).second &&
            request.addresses.Changes(TargetHost(target, before))) {
            updates.push_back({target.label, request.addresses});
        }
    }
    return updates;
}

// The first line for each host says whether its records changed; the same
// host named again changes nothing more.
std::string DynReplyLines(const DynRequest& request, const std::vector<DynTarget>& targets,
                          const Account& before) {
    std::string body;
    std::set<std::string> named;
    for (const DynTarget& target : targets) {
        body += body.empty() ? "" : "\n";
        switch (target.kind) {
            case DynName::Own:
            case DynName::Host: {
                const bool changed = named.insert(target.label).second &&
                                     request.addresses.Changes(TargetHost(target, before));
                body += (changed ? "good " : "nochg ") + request.shown;
                break;
            }
            case DynName::NoHost:
                body += "nohost";
                break;
            case DynName::NotFqdn:
                body += "notfqdn";
                break;
        }
    }
    return body;
}

}  // namespace service
