// Publishing an account's address under its name in DNS, through the
// standard dynamic update (RFC 2136) signed with a TSIG key (RFC 8945), to
// the authoritative name server of a zone. Messages are built, signed and
// checked by ldns.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "service/dns/tsig_key.h"

namespace service {

struct DnsTarget {
    std::string host;  // numeric address of the name server
    int port = 53;
    std::string zone;  // as ZoneName gives it
    TsigKey key;
    std::set<std::string> reserved;  // labels of the zone's own besides the usual ones
};

// What one name is to hold: exactly the addresses (an A record for an IPv4
// one, AAAA for IPv6, TTL 60), or no address record when there is none.
struct DnsChange {
    std::string label;
    std::string address;  // the addresses joined by commas
};

// Sends one update per change, all at once, and waits at most 2 s for their
// answers, so that many names take one round trip. Returns, for each change,
// the empty string when the name server took it, else why not, in words.
std::vector<std::string> UpdateDnsNames(const DnsTarget& target,
                                        const std::vector<DnsChange>& changes);

}  // namespace service
