// The rules a new host's label follows wherever it is added (host add, the
// account page), and the words of their refusals.
#pragma once

#include <set>
#include <string>

namespace service {

// Why label cannot name a new host by its form (one DNS label) or as one of
// the zone's own names (the usual ones and reserved); empty when it can.
std::string HostLabelRefusal(const std::string& label, const std::set<std::string>& reserved);

// The refusal of a label the store found taken: by a host, a login in any
// case, or the zone.
std::string HostLabelTaken(const std::string& label);

}  // namespace service
