// The HTTP side of the service: the update script, the home page, 404 for the
// rest, one log line per request, and a clean stop on SIGTERM or SIGINT.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "service/account_store.h"
#include "service/dns_update.h"

namespace service {

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 8245;
};

// Parses "ADDR:PORT" ("[::1]:8245" for IPv6); false when it is not one.
bool ParseListenAddress(const std::string& text, ListenAddress& out);

// Serves until SIGTERM or SIGINT, publishing addresses in DNS when dns is
// given; returns the process's exit status. Requests relayed by one of
// trustedProxies (load balancers in front, by address) are taken to come from
// the address their X-Forwarded-For field ends with.
int Serve(AccountStore& store, const ListenAddress& address, std::ostream& log,
          const std::optional<DnsTarget>& dns = std::nullopt,
          const std::vector<std::string>& trustedProxies = {});

// An IP address literal in its canonical text form; empty when text is not one.
std::string CanonicalAddress(const std::string& text);

// The home page's HTML.
std::string HomePage();

// A time (seconds since the epoch) in UTC, in strftime's format.
std::string FormatUtc(std::int64_t when, const char* format);

}  // namespace service
