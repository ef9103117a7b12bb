#include "service/app/account_routes.h"

#include "service/account/pages.h"
#include "service/account/web_session.h"
#include "service/auth/update_token.h"
#include "service/common/address.h"
#include "service/common/utc_time.h"
#include "service/http/request_head.h"

namespace service {

namespace {

// What every page of the account's carries: nothing but its own stylesheet
// and images may load, no site may frame it, no address leaves with a link,
// and no cache keeps it.
HttpResponse Guarded(HttpResponse page) {
    page.noStore = true;
    page.fields.emplace_back("Content-Security-Policy",
                             "default-src 'none'; style-src 'self'; img-src 'self'; "
                             "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    page.fields.emplace_back("X-Frame-Options", "DENY");
    page.fields.emplace_back("Referrer-Policy", "no-referrer");
    page.fields.emplace_back("X-Content-Type-Options", "nosniff");
    return page;
}

HttpResponse Html(int status, const std::string& html) {
    HttpResponse page = HttpResponse::Content("text/html; charset=utf-8", html);
    page.status = status;
    return Guarded(std::move(page));
}

HttpResponse SeeOverview(const std::string& cookie) {
    HttpResponse moved = Guarded(HttpResponse::Status(303));
    moved.fields.emplace_back("Location", kAccountPath);
    if (!cookie.empty()) {
        moved.fields.emplace_back("Set-Cookie", cookie);
    }
    return moved;
}

HttpResponse Forbidden() {
    return Html(403, MessageHtml("Refused",
                                 "This form did not come from your account page; "
                                 "nothing was changed."));
}

// A password is taken over TLS, or from this machine itself.
bool NeedsHttps(const std::string& peer, bool https) {
    return !https && !IsLoopback(peer);
}

// The sign-in page again, telling why.
HttpResponse SignInAgain(const std::string& notice, const std::string& login) {
    return Html(200, SignInHtml({notice, false, login}));
}

HttpResponse SignedInOrNot(const UpdateReply& reply, const std::string& login, bool https,
                           AccountStore& store) {
    if (!reply.code) {
        return SignInAgain(reply.httpStatus == kTooManyFailures
                               ? "Too many failed attempts from your address; try again later."
                               : "The service cannot sign you in just now; try again later.",
                           login);
    }
    if (*reply.code != ReplyCode::Updated) {
        return SignInAgain(*reply.code == ReplyCode::Banned ? "This account is banned."
                                                            : "The login or password is wrong.",
                           login);
    }
    // A new id at every sign-in: one planted before cannot be taken over.
    const std::string id = NewUpdateToken();
    if (!store.AddSession(SecretDigest(id), {login, NewUpdateToken(), NowSeconds()},
                          NowSeconds())) {
        return SignInAgain("The service cannot sign you in just now; try again later.", login);
    }
    return SeeOverview(SessionCookie(id, https));
}

}  // namespace

AccountPage::AccountPage(AccountStore& store, Updates& updates, const HostNaming& naming)
    : store_(store), updates_(updates), naming_(naming) {}

bool AccountPage::Serves(const std::string& path) {
    return path + "/" == kAccountPath || path.starts_with(kAccountPath);
}

std::optional<HttpResponse> AccountPage::Answer(const HttpRequest& req, const std::string& peer,
                                                bool https, HttpServer::Reply reply) {
    const bool read = req.method == "GET" || req.method == "HEAD";
    if (req.path == kStylesheetPath && read) {
        return HttpResponse::Content("text/css; charset=utf-8", Stylesheet());
    }
    if (req.path + "/" == kAccountPath) {
        return SeeOverview("");
    }
    const std::string action = req.path.substr(std::string(kAccountPath).size());
    if ((action.empty() && !read) || (!action.empty() && req.method != "POST")) {
        return HttpResponse::NotAllowed(action.empty() ? "GET, HEAD" : "POST");
    }
    if (action != "" && action != "sign-in" && action != "sign-out") {
        return Html(404, MessageHtml("Not found", "The account page has no such place."));
    }
    if (!read && FromElsewhere(req.origin, req.fetchSite, req.host, https)) {
        return Forbidden();
    }
    if (action == "sign-in") {
        return SignIn(req, peer, https, std::move(reply));
    }
    work_.Post([this, req, peer, https, action, reply] {
        if (action == "sign-out") {
            reply(SignOut(req, https));
            return;
        }
        WebSession session;
        std::string idHash;
        switch (SessionOf(req, session, idHash)) {
            case AccountStore::Presence::Found:
                reply(Overview(session, peer));
                return;
            case AccountStore::Presence::Absent:
                reply(Html(200, SignInHtml({"", NeedsHttps(peer, https), ""})));
                return;
            case AccountStore::Presence::Unknown:
                break;
        }
        reply(Html(503, MessageHtml("Not available",
                                    "The account page cannot be shown just "
                                    "now; try again later.")));
    });
    return std::nullopt;
}

AccountStore::Presence AccountPage::SessionOf(const HttpRequest& req, WebSession& session,
                                              std::string& idHash) {
    const std::string id = SessionIdOf(req.cookie);
    if (id.empty()) {
        return AccountStore::Presence::Absent;
    }
    idHash = SecretDigest(id);
    return store_.FindSession(idHash, NowSeconds(), session);
}

HttpResponse AccountPage::Overview(const WebSession& session, const std::string& visitor) {
    Account account;
    if (store_.Look(session.login, account) != AccountStore::Presence::Found ||
        !store_.ReadHosts(account)) {
        return Html(503, MessageHtml("Not available",
                                     "Your account cannot be read just now; "
                                     "try again later."));
    }
    return Html(200, OverviewHtml({account, naming_.zone, visitor, session.formToken}));
}

// The password goes through the updates' queue and limit; nothing is
// recorded for the account.
std::optional<HttpResponse> AccountPage::SignIn(const HttpRequest& req, const std::string& peer,
                                                bool https, HttpServer::Reply reply) {
    if (NeedsHttps(peer, https)) {
        return Html(403, SignInHtml({"", true, ""}));
    }
    const std::string login = QueryValue(req.body, "login");
    Updates::Request request{login, QueryValue(req.body, "password"), peer,
                             [](const Account&) { return std::vector<HostUpdate>{}; },
                             [this, login, https](const UpdateReply& r, const Account&) {
                                 return SignedInOrNot(r, login, https, store_);
                             }};
    request.evenTime = true;
    return updates_.Start(std::move(request), std::move(reply));
}

// Only with the session's own form token: a page of another site cannot end
// it either.
HttpResponse AccountPage::SignOut(const HttpRequest& req, bool https) {
    WebSession session;
    std::string idHash;
    const AccountStore::Presence found = SessionOf(req, session, idHash);
    if (found == AccountStore::Presence::Found &&
        QueryValue(req.body, "form") != session.formToken) {
        return Forbidden();
    }
    if (found == AccountStore::Presence::Unknown ||
        (!idHash.empty() && !store_.RemoveSession(idHash))) {
        return Html(503, MessageHtml("Not available",
                                     "You cannot be signed out just now; try "
                                     "again later."));
    }
    return SeeOverview(EndedSessionCookie(https));
}

bool AccountPage::Stop(std::chrono::milliseconds within) {
    return work_.Stop(within);
}

}  // namespace service
