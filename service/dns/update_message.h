// Publishing an account's address under its name in DNS, through the
// standard dynamic update (RFC 2136) signed with a TSIG key (RFC 8945), to
// the authoritative name server of a zone. Messages are built, signed and
// checked by ldns.
#pragma once

#include <string>

#include "service/dns/tsig_key.h"

namespace service {

struct DnsTarget {
    std::string host;  // numeric address of the name server
    int port = 53;
    std::string zone;  // as ZoneName gives it
    TsigKey key;
};

// Makes LABEL.ZONE hold exactly address (an A record for IPv4, AAAA for IPv6,
// TTL 60), or no address record when address is empty, in one update.
// Returns the empty string on success, else why it failed, in words.
std::string UpdateDnsName(const DnsTarget& target, const std::string& label,
                          const std::string& address);

}  // namespace service
