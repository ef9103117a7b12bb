// The block of addresses one party is taken to own: an IPv4 address alone,
// or the /64 network of an IPv6 address, since a single IPv6 host is commonly
// given a whole /64 and could otherwise use a new address for every request.
#pragma once

#include <string>

namespace service {

// The block's name ("192.0.2.7", "2001:db8:1:2::/64"); the text itself when
// it is not a numeric address.
std::string AddressBlock(const std::string& address);

}  // namespace service
