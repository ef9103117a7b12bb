#include "service/app/account_routes.h"

#include <set>

#include "service/account/pages.h"
#include "service/account/web_session.h"
#include "service/app/host_labels.h"
#include "service/auth/password_hash.h"
#include "service/auth/update_token.h"
#include "service/common/address.h"
#include "service/common/utc_time.h"
#include "service/dns/names.h"
#include "service/http/request_head.h"

namespace service {

namespace {

constexpr std::size_t kMaxPageHosts = 50;

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

HttpResponse Unavailable() {
    return Html(503, MessageHtml("Not available",
                                 "The service cannot do this just now; try "
                                 "again later."));
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
    static const std::set<std::string> kActions{
        "sign-in", "sign-out", "add-host", "remove-host", "set-address", "new-token", "password"};
    if (!action.empty() && kActions.count(action) == 0) {
        return Html(404, MessageHtml("Not found", "The account page has no such place."));
    }
    if ((action.empty() && !read) || (!action.empty() && req.method != "POST")) {
        return HttpResponse::NotAllowed(action.empty() ? "GET, HEAD" : "POST");
    }
    if (!read && FromElsewhere(req.origin, req.fetchSite, req.host, https)) {
        return Forbidden();
    }
    if (action == "sign-in") {
        return SignIn(req, peer, https, std::move(reply));
    }
    // The page's work waits in a bounded queue: a flood of page loads gets
    // 503 at once rather than a backlog, and work for a client that left is
    // skipped.
    if (waiting_.fetch_add(1) >= kMaxWaiting) {
        --waiting_;
        return Unavailable();
    }
    work_.Post([this, req, peer, https, action, reply] {
        --waiting_;
        if (reply.ClientGone()) {
            reply(HttpResponse::Status(Updates::kClientGone));
            return;
        }
        WebSession session;
        std::string idHash;
        const AccountStore::Presence found = SessionOf(req, session, idHash);
        if (found == AccountStore::Presence::Unknown) {
            reply(Unavailable());
        } else if (found == AccountStore::Presence::Absent) {
            // A sign-out of a session already ended still clears its cookie.
            reply(action.empty()         ? Html(200, SignInHtml({"", NeedsHttps(peer, https), ""}))
                  : action == "sign-out" ? SeeOverview(EndedSessionCookie(https))
                                         : SeeOverview(""));
        } else if (action.empty()) {
            reply(Overview(session, peer));
        } else if (QueryValue(req.body, "form") != session.formToken) {
            reply(Forbidden());
        } else {
            Changed(action, {req, peer, https, session, idHash}, reply);
        }
    });
    return std::nullopt;
}

void AccountPage::Changed(const std::string& action, const Change& change,
                          const HttpServer::Reply& reply) {
    if (action == "sign-out") {
        reply(SignOut(change));
    } else if (action == "password") {
        ChangePassword(change, reply);
    } else if (action == "add-host") {
        reply(AddHost(change));
    } else if (action == "remove-host") {
        reply(RemoveHost(change));
    } else if (action == "set-address") {
        reply(SetAddress(change));
    } else {
        reply(NewToken(change));
    }
}

std::optional<Account> AccountPage::Read(const std::string& login, HttpResponse& trouble) {
    Account account;
    if (store_.Look(login, account) != AccountStore::Presence::Found ||
        !store_.ReadHosts(account)) {
        trouble = Unavailable();
        return std::nullopt;
    }
    return account;
}

// At most kMaxPageHosts from the page: an account's hosts are read with
// every look at it.
HttpResponse AccountPage::AddHost(const Change& change) {
    const std::string label = QueryValue(change.req.body, "label");
    HttpResponse trouble;
    const std::optional<Account> account = Read(change.session.login, trouble);
    if (!account) {
        return trouble;
    }
    std::string refusal = HostLabelRefusal(label, naming_.reserved);
    if (refusal.empty() && account->hosts.size() >= kMaxPageHosts) {
        refusal = "An account has at most " + std::to_string(kMaxPageHosts) + " hosts.";
    }
    if (!refusal.empty()) {
        return Html(200, MessageHtml("Not added", refusal));
    }
    if (!store_.AddHost(account->name, label, "")) {
        return store_.LastTrouble() != AccountStore::Trouble::None
                   ? Unavailable()
                   : Html(200, MessageHtml("Not added", HostLabelTaken(label)));
    }
    return SeeOverview("");
}

HttpResponse AccountPage::RemoveHost(const Change& change) {
    const std::string label = QueryValue(change.req.body, "host");
    if (QueryValue(change.req.body, "confirm") != "yes") {
        return Html(200, ConfirmRemovalHtml(label, naming_.zone, change.session.formToken));
    }
    if (!store_.RemoveHost(change.session.login, label)) {
        return store_.LastTrouble() != AccountStore::Trouble::None
                   ? Unavailable()
                   : Html(200, MessageHtml("Not removed", "You have no such host."));
    }
    updates_.addressChanged();
    return SeeOverview("");
}

// As an update from the visitor would set them: each family given, on its
// own.
HttpResponse AccountPage::SetAddress(const Change& change) {
    HttpResponse trouble;
    const std::optional<Account> account = Read(change.session.login, trouble);
    if (!account) {
        return trouble;
    }
    const std::string label = AsciiLower(QueryValue(change.req.body, "host"));
    const bool own = label == AsciiLower(account->name);
    const bool known = own || account->FindHost(label) != nullptr;
    AddressUpdate addresses;
    for (const bool v4 : {true, false}) {
        const std::string text = QueryValue(change.req.body, v4 ? "ipv4" : "ipv6");
        if (text.empty()) {
            continue;
        }
        const AddressUpdate one = AddressUpdate::Of(CanonicalAddress(text));
        if (v4 != one.v4.has_value() || (one.v4 && one.v4->empty())) {
            return Html(200, MessageHtml("Not set", "\"" + text + "\" is not an " +
                                                        (v4 ? "IPv4" : "IPv6") + " address."));
        }
        (v4 ? addresses.v4 : addresses.v6) = v4 ? one.v4 : one.v6;
    }
    if (!known || (!addresses.v4 && !addresses.v6)) {
        return Html(200, MessageHtml("Not set", known ? "Give an IPv4 or an IPv6 address."
                                                      : "You have no such host."));
    }
    if (store_.RecordUpdate(account->name, account->passwordHash, {own ? "" : label, addresses},
                            change.peer, NowSeconds()) != AccountStore::Recording::Recorded) {
        return Unavailable();
    }
    updates_.addressChanged();
    return SeeOverview("");
}

// The token is shown on this answer only; only its digest is kept.
HttpResponse AccountPage::NewToken(const Change& change) {
    HttpResponse trouble;
    const std::optional<Account> account = Read(change.session.login, trouble);
    if (!account) {
        return trouble;
    }
    const std::string label = AsciiLower(QueryValue(change.req.body, "host"));
    const std::string token = NewUpdateToken();
    const std::string digest = TokenDigest(token, account->tokenKey);
    const bool own = label == AsciiLower(account->name);
    if (digest.empty() || !(own ? store_.SetTokenHash(account->name, digest)
                                : store_.SetHostToken(account->name, label, digest))) {
        return store_.LastTrouble() != AccountStore::Trouble::None
                   ? Unavailable()
                   : Html(200, MessageHtml("No token", "You have no such host."));
    }
    return Html(
        200, TokenHtml({account->name, label, naming_.zone, token, change.req.host, change.https}));
}

// The current password is proved through the updates' queue and limit; the
// new one then replaces it and every other session of the account ends.
void AccountPage::ChangePassword(const Change& change, const HttpServer::Reply& reply) {
    const std::string fresh = QueryValue(change.req.body, "new");
    if (fresh.empty() || fresh.size() > kMaxParameterBytes ||
        fresh != QueryValue(change.req.body, "again")) {
        reply(
            Html(200, MessageHtml("Not changed", fresh.empty() || fresh.size() > kMaxParameterBytes
                                                     ? "A password is 1 to 256 bytes."
                                                     : "The two new passwords differ.")));
        return;
    }
    const std::string login = change.session.login;
    Updates::Request request{
        login, QueryValue(change.req.body, "current"), change.peer,
        [](const Account&) { return std::vector<HostUpdate>{}; },
        [this, login, fresh, keep = change.idHash](const UpdateReply& r, const Account&) {
            if (r.code != ReplyCode::Updated) {
                return Html(200,
                            MessageHtml("Not changed", r.code ? "The current password is wrong."
                                                              : "Try again later."));
            }
            const std::optional<std::string> hash = HashPassword(fresh, HashStrength::Interactive);
            if (!hash || !store_.SetPasswordHash(login, *hash) ||
                !store_.RemoveSessions(login, keep)) {
                return Unavailable();
            }
            return Html(200, MessageHtml("Password changed",
                                         "Your password is changed, and "
                                         "every other session of yours has "
                                         "ended."));
        }};
    if (std::optional<HttpResponse> now = updates_.Start(std::move(request), reply)) {
        reply(*now);
    }
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
HttpResponse AccountPage::SignOut(const Change& change) {
    return store_.RemoveSession(change.idHash) ? SeeOverview(EndedSessionCookie(change.https))
                                               : Unavailable();
}

bool AccountPage::Stop(std::chrono::milliseconds within) {
    return work_.Stop(within);
}

}  // namespace service
