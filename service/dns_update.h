// Publishing an account's address under its name in DNS, through the
// standard dynamic update (RFC 2136) signed with a TSIG key (RFC 8945), to
// the authoritative name server of a zone. Messages are built, signed and
// checked by ldns.
#pragma once

#include <string>

namespace service {

struct TsigKey {
    std::string name;       // as in the key file, without a final dot
    std::string algorithm;  // hmac-sha256 or hmac-sha512
    std::string secret;     // base64
};

// Reads a key file in the syntax `tsig-keygen` prints:
//   key "NAME" { algorithm hmac-sha256; secret "BASE64"; };
// refusing one that others may read. False with error set.
bool ReadTsigKey(const std::string& path, TsigKey& key, std::string& error);

// The zone's name in lower case with its final dot; empty when it is not a
// valid domain name.
std::string ZoneName(const std::string& text);

// Whether login can be published as it is: a DNS label of letters, digits
// and hyphens, 1 to 63 characters, no hyphen first or last.
bool PublishableLabel(const std::string& login);

struct DnsTarget {
    std::string host;  // numeric address of the name server
    int port = 53;
    std::string zone;  // as ZoneName gives it
    TsigKey key;
};

// The name an account's address is published under: label in lower case,
// then the zone.
std::string DnsName(const std::string& label, const DnsTarget& target);

// Makes LABEL.ZONE hold exactly address (an A record for IPv4, AAAA for IPv6,
// TTL 60), or no address record when address is empty, in one update.
// Returns the empty string on success, else why it failed, in words.
std::string UpdateDnsName(const DnsTarget& target, const std::string& label,
                          const std::string& address);

}  // namespace service
