// Which names the service may publish, and how they are written in DNS.
#pragma once

#include <set>
#include <string>

namespace service {

// text with its ASCII letters in lower case, as DNS compares names.
std::string AsciiLower(std::string text);

// The zone's name in lower case with its final dot; empty when it is not a
// valid domain name.
std::string ZoneName(const std::string& text);

// Whether label, when it is an internationalized name's ASCII form (xn--),
// decodes to a valid name (IDNA2008) that encodes back to it; true for any
// other label.
bool IdnaLabelDecodes(const std::string& label);

// Whether login can be published as it is: a DNS label of letters, digits
// and hyphens, 1 to 63 characters, no hyphen first or last, and, when it
// begins with xn--, one that IdnaLabelDecodes.
bool PublishableLabel(const std::string& login);

// Whether login, regardless of case, is one of the zone's own names that no
// account may take: those of the manual's list (ns, ns1, ns2, www, mail, mx,
// smtp, imap, pop, ftp, localhost, wpad, autodiscover) or one an operator
// reserved (given in lower case).
bool ReservedLabel(const std::string& login, const std::set<std::string>& reserved);

// The name an account's address is published under: label in lower case,
// then zone (as ZoneName gives it).
std::string DnsName(const std::string& label, const std::string& zone);

}  // namespace service
