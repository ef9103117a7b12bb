// Addresses as the service reads, counts and shows them.
#pragma once

#include <string>

namespace service {

// An IP address literal in its canonical text form; empty when text is not one.
// An IPv4-mapped IPv6 address (::ffff:a.b.c.d, as a proxy listening on [::]
// forwards an IPv4 client) is the IPv4 address it carries.
std::string CanonicalAddress(const std::string& text);

// The block of addresses one party is taken to own: an IPv4 address alone,
// or the /64 network of an IPv6 address, since a single IPv6 host is commonly
// given a whole /64 and could otherwise use a new address for every request.
// The block's name ("192.0.2.7", "2001:db8:1:2::/64"); the text itself when
// it is not a numeric address.
std::string AddressBlock(const std::string& address);

// Whether a canonical address is this machine's own loopback (127.0.0.0/8,
// ::1).
bool IsLoopback(const std::string& address);

// A numeric host and a port: where the service listens, or where a server
// it talks to is.
struct HostPort {
    std::string host = "127.0.0.1";
    int port = 8245;
};

// Parses "ADDR:PORT" ("[::1]:8245" for IPv6); false, leaving out as it was,
// when it is not one.
bool ParseHostPort(const std::string& text, HostPort& out);

}  // namespace service
