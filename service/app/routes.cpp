#include "service/app/routes.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "service/common/address.h"
#include "service/common/basic_auth.h"
#include "service/common/log_line.h"
#include "service/dns/names.h"

namespace service {

namespace {

HttpResponse ClientReply(const UpdateReply& reply) {
    if (!reply.code) {
        return HttpResponse::Status(reply.httpStatus);
    }
    return HttpResponse::Text(200, reply.body);
}

std::optional<HttpResponse> ClientUpdate(Updates& updates, const HttpRequest& req,
                                         const std::string& peer, HttpServer::Reply reply) {
    return updates.Start({QueryValue(req.query, "login"), QueryValue(req.query, "password"), peer,
                          [peer](const Account&) {
                              return std::vector<HostUpdate>{{"", AddressUpdate::Of(peer)}};
                          },
                          [](const UpdateReply& r, const Account&) { return ClientReply(r); }},
                         std::move(reply));
}

HttpResponse BadAuth() {
    HttpResponse refusal = HttpResponse::Text(401, "badauth");
    refusal.challenge = "Basic realm=\"kestrome\"";
    return refusal;
}

std::vector<DynTarget> DynTargets(const DynRequest& dyn, const HostNaming& naming,
                                  const Account& account) {
    std::vector<DynTarget> targets;
    for (const std::string& name : dyn.names) {
        targets.push_back(ClassifyDynName(name, account, naming, dyn.tokenHost));
    }
    return targets;
}

// Whether a request names a host other than the login's own, whose account's
// other hosts are then read.
bool NamesOtherHosts(const DynRequest& dyn, const HostNaming& naming, const std::string& login) {
    return std::any_of(dyn.names.begin(), dyn.names.end(), [&](const std::string& name) {
        const std::optional<std::string> label = DynLabel(name, naming);
        return label && *label != AsciiLower(login);
    });
}

// A proved request's answer: the account's state, else one line per name.
HttpResponse DynAnswer(const DynRequest& dyn, const HostNaming& naming, const UpdateReply& reply,
                       const Account& before) {
    if (!reply.code) {
        return reply.httpStatus == kNotStored ? HttpResponse::Text(kNotStored, "911")
                                              : HttpResponse::Status(reply.httpStatus);
    }
    switch (*reply.code) {
        case ReplyCode::UnknownLogin:
        case ReplyCode::WrongPassword:
            return BadAuth();
        case ReplyCode::Banned:
            return HttpResponse::Text(200, "abuse");
        case ReplyCode::Updated:
            break;
    }
    return HttpResponse::Text(200, DynReplyLines(dyn, DynTargets(dyn, naming, before), before));
}

// Requests that cannot be served are answered before any credential is
// checked, and record nothing; so is a request without credentials, which
// counts as a wrong password.
std::optional<HttpResponse> DynUpdate(Updates& updates, const HostNaming& naming,
                                      const HttpRequest& req, const std::string& peer,
                                      HttpServer::Reply reply) {
    auto dyn = std::make_shared<DynRequest>();
    switch (ParseDynRequest(req.query, peer, *dyn)) {
        case DynParse::TooManyNames:
            return HttpResponse::Text(200, "numhost");
        case DynParse::NotAnAddress:
            return HttpResponse::Text(400, "the address given is not one");
        case DynParse::Ok:
            break;
    }
    if (dyn->names.empty()) {
        dyn->names.emplace_back();
    }
    const BasicCredentials credentials =
        ParseBasicAuthorization(req.authorization).value_or(BasicCredentials{});
    Updates::Request request{credentials.user, credentials.password, peer,
                             [dyn, &naming](const Account& account) {
                                 return DynUpdates(*dyn, DynTargets(*dyn, naming, account),
                                                   account);
                             },
                             [dyn, &naming](const UpdateReply& r, const Account& before) {
                                 return DynAnswer(*dyn, naming, r, before);
                             },
                             // A host's token proves the request for that host alone.
                             [dyn, token = credentials.password](const Account& account) {
                                 const std::optional<std::string> host = TokenHost(token, account);
                                 dyn->tokenHost = host.value_or("");
                                 return host.has_value();
                             }};
    request.withHosts = NamesOtherHosts(*dyn, naming, credentials.user);
    return updates.Start(std::move(request), std::move(reply));
}

}  // namespace

// Only GET records an update; the address check and the home page also
// answer HEAD.
std::optional<HttpResponse> Route(const Routes& routes, const HttpRequest& req,
                                  const std::string& peer, bool https, HttpServer::Reply reply) {
    if (req.path == kUpdatePath || req.path == kDynUpdatePath) {
        if (req.method != "GET") {
            return HttpResponse::NotAllowed("GET");
        }
        return req.path == kUpdatePath
                   ? ClientUpdate(routes.updates, req, peer, std::move(reply))
                   : DynUpdate(routes.updates, routes.naming, req, peer, std::move(reply));
    }
    if (AccountPage::Serves(req.path)) {
        return routes.account.Answer(req, peer, https, std::move(reply));
    }
    if (req.path == kCheckIpPath) {
        if (req.method != "GET" && req.method != "HEAD") {
            return HttpResponse::NotAllowed("GET, HEAD");
        }
        HttpResponse page = HttpResponse::Content("text/html", CheckIpPage(peer));
        page.noStore = true;
        return page;
    }
    if (req.path == "/") {
        if (req.method != "GET" && req.method != "HEAD") {
            return HttpResponse::NotAllowed("GET, HEAD");
        }
        return HttpResponse::Content("text/html; charset=utf-8", HomePage());
    }
    return HttpResponse::Status(404);
}

namespace {

bool Trusted(const std::string& peer, const std::vector<std::string>& trustedProxies) {
    return std::find(trustedProxies.begin(), trustedProxies.end(), peer) != trustedProxies.end();
}

}  // namespace

bool OverHttps(const std::string& peer, const HttpRequest& req,
               const std::vector<std::string>& trustedProxies) {
    return req.tls || (req.forwardedHttps && Trusted(peer, trustedProxies));
}

std::optional<std::string> ClientAddress(const std::string& peer, const HttpRequest* req,
                                         const std::vector<std::string>& trustedProxies) {
    if (req == nullptr || !req->forwardedFor || !Trusted(peer, trustedProxies)) {
        return peer;
    }
    std::string client = CanonicalAddress(*req->forwardedFor);
    if (client.empty()) {
        return std::nullopt;
    }
    return client;
}

std::string ForwardedFieldNotes::Note(const std::string& proxy, const std::string& field,
                                      std::int64_t now) {
    if (now / 60 == minute_) {
        ++unsaid_;
        return {};
    }
    minute_ = now / 60;
    const std::uint64_t before = std::exchange(unsaid_, 0);
    return ServiceLine(
        "trusted proxy " + proxy + " forwarded \"" + LogSafe(field) +
        "\", which is not one address: answered 400" +
        (before > 0 ? " (" + std::to_string(before) + " more since the last such line)" : ""));
}

// As dynamic-DNS clients read it (ddclient's use=web, inadyn's
// checkip-server): the address after "Current IP Address: ".
std::string CheckIpPage(const std::string& address) {
    return "<html><head><title>Current IP Check</title></head><body>Current IP Address: " +
           address + "</body></html>";
}

std::string HomePage() {
    return R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Kestrome update service</title></head>
<body>
<h1>Kestrome update service</h1>
<p>This service records the Internet address from which each account last
checked in. The Kestrome client asks it to do so when you press Connect, and
again every few minutes while it stays connected.</p>
<h2>Accounts</h2>
<p>An administrator creates an account on the service's machine with</p>
<pre>kestrome-service user add NAME</pre>
<p>which asks for the password. <code>kestrome-service user list</code> shows each
account with the address and time of its last update.</p>
</body></html>
)";
}

}  // namespace service
