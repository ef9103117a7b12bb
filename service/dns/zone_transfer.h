// Reading what the zone holds, so that publication knows which names are the
// zone's own and which the service put there: a zone transfer (AXFR,
// RFC 5936) over TCP, signed with the service's TSIG key.
#pragma once

#include <string>
#include <vector>

#include "service/dns/update_message.h"
#include "service/store/account_store.h"

namespace service {

// Every name directly under the zone that could be an account's, with its
// records (DNSSEC's own records left out). Empty on success, else why the
// zone could not be read, in words.
std::string ReadZone(const DnsTarget& target, std::vector<HeldName>& held);

}  // namespace service
