// The running service: the HTTP server on its routes, the work behind them,
// DNS publication when asked, one log line per request, and a clean stop on
// SIGTERM or SIGINT.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "service/common/address.h"
#include "service/dns/update_message.h"
#include "service/store/account_store.h"

namespace service {

// A certificate chain and key to serve TLS with: on listen beside the plain
// listener, or, without it, on the service's one listener instead of plain
// HTTP. Nothing when certFile is empty.
struct TlsOptions {
    std::string certFile;
    std::string keyFile;
    std::optional<HostPort> listen;
};

// Serves until SIGTERM or SIGINT, publishing addresses in DNS when dns is
// given; returns the process's exit status. Requests relayed by one of
// trustedProxies (load balancers in front, by address) are taken to come from
// the address their X-Forwarded-For field ends with. SIGHUP reopens the log
// file and loads the TLS files again.
int RunService(AccountStore& store, const HostPort& address, std::ostream& log,
               const std::optional<DnsTarget>& dns = std::nullopt,
               const std::vector<std::string>& trustedProxies = {}, const TlsOptions& tls = {});

}  // namespace service
