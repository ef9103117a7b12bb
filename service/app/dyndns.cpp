#include "service/app/dyndns.h"

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

DynName ClassifyDynName(const std::string& name, const Account& account, const HostNaming& naming) {
    std::string lower = AsciiLower(name);
    if (lower.ends_with('.')) {
        lower.pop_back();
    }
    const std::string suffix =
        naming.zone.empty() ? "" : "." + naming.zone.substr(0, naming.zone.size() - 1);
    if (!lower.ends_with(suffix) || lower.size() == suffix.size()) {
        return DynName::NotFqdn;
    }
    const std::string label = lower.substr(0, lower.size() - suffix.size());
    if (label.find('.') != std::string::npos) {
        return DynName::NotFqdn;
    }
    return IsOwnHost(account, label, naming) ? DynName::Own : DynName::NoHost;
}

// The first line for the own host says whether its record changed; the same
// host named again changes nothing more.
std::string DynReplyLines(const DynRequest& request, const std::vector<DynName>& kinds,
                          const Account& before) {
    std::string body;
    bool changed = request.addresses.Changes(before);
    for (const DynName kind : kinds) {
        body += body.empty() ? "" : "\n";
        switch (kind) {
            case DynName::Own:
                body += (changed ? "good " : "nochg ") + request.shown;
                changed = false;
                break;
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
