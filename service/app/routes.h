// What each path of the service answers: the client's update script, the
// dyndns2 update, the address check, the account page, the home page, and
// 404 for the rest; and
// which address a request is taken to come from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/app/account_routes.h"
#include "service/app/dyndns.h"
#include "service/app/updates.h"
#include "service/http/request_head.h"
#include "service/http/server.h"

namespace service {

// The path of the client's update script.
inline constexpr const char* kUpdatePath = "/process.php";
// The page that tells callers their own address.
inline constexpr const char* kCheckIpPath = "/checkip";

// What the routes answer with; each must outlast every answer.
struct Routes {
    Updates& updates;
    const HostNaming& naming;
    AccountPage& account;
};

// Answers req from peer now, or returns nothing and answers through reply
// later; https tells that it came over TLS (the service's own, or a trusted
// proxy's).
std::optional<HttpResponse> Route(const Routes& routes, const HttpRequest& req,
                                  const std::string& peer, bool https, HttpServer::Reply reply);

// Whether a request came over TLS: the service's own, or, from one of
// trustedProxies, a proxy's that says so.
bool OverHttps(const std::string& peer, const HttpRequest& req,
               const std::vector<std::string>& trustedProxies);

// The address a request comes from: the connection's, or, for a request one
// of trustedProxies (load balancers in front, by address) relayed, the
// client's address that it added at the end of its X-Forwarded-For field. req
// is null for a request that could not be read. Nothing when a trusted proxy's
// entry is not one bare address (a port, brackets, a zone, "unknown", empty):
// such a request is refused, never taken as the proxy's own.
std::optional<std::string> ClientAddress(const std::string& peer, const HttpRequest* req,
                                         const std::vector<std::string>& trustedProxies);

// The log's word on trusted proxies' entries that are not one address: the
// first of each minute, with how many went unsaid before it.
class ForwardedFieldNotes {
public:
    // The line to log for this one, or nothing.
    std::string Note(const std::string& proxy, const std::string& field, std::int64_t now);

private:
    std::int64_t minute_ = -1;
    std::uint64_t unsaid_ = 0;
};

// The address check page's HTML, for a caller from address.
std::string CheckIpPage(const std::string& address);

// The home page's HTML.
std::string HomePage();

}  // namespace service
