// The account page's routes under /account/: sign-in through the same fair
// verification queue and per-address limit as updates, the overview of a
// signed-in account, and sign-out. Its work that reads or writes the store
// runs on a thread of its own, never on the one serving the sockets nor in
// the updates' pools.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "service/app/dyndns.h"
#include "service/app/updates.h"
#include "service/http/server.h"
#include "service/store/account_store.h"
#include "service/work/work_pool.h"

namespace service {

class AccountPage {
public:
    // naming must outlast the page.
    AccountPage(AccountStore& store, Updates& updates, const HostNaming& naming);

    // Whether path is one of the page's.
    static bool Serves(const std::string& path);
    // Answers req from peer (https: it came over TLS, the service's own or a
    // trusted proxy's) now, or later through reply.
    std::optional<HttpResponse> Answer(const HttpRequest& req, const std::string& peer, bool https,
                                       HttpServer::Reply reply);
    // Stops taking work; false when some is still running after within.
    bool Stop(std::chrono::milliseconds within);

private:
    // What a signed-in session's form asks (sign-out too), each once its
    // form token is checked.
    struct Change {
        const HttpRequest& req;
        const std::string& peer;
        bool https;
        const WebSession& session;
        const std::string& idHash;
    };
    void Changed(const std::string& action, const Change& change, const HttpServer::Reply& reply);
    HttpResponse AddHost(const Change& change);
    HttpResponse RemoveHost(const Change& change);
    HttpResponse SetAddress(const Change& change);
    HttpResponse NewToken(const Change& change);
    void ChangePassword(const Change& change, const HttpServer::Reply& reply);
    // The account with its hosts, or the page that says it cannot be read.
    std::optional<Account> Read(const std::string& login, HttpResponse& trouble);
    HttpResponse Overview(const WebSession& session, const std::string& visitor);
    std::optional<HttpResponse> SignIn(const HttpRequest& req, const std::string& peer, bool https,
                                       HttpServer::Reply reply);
    HttpResponse SignOut(const Change& change);
    // The session the request's cookie names, and its id's digest.
    AccountStore::Presence SessionOf(const HttpRequest& req, WebSession& session,
                                     std::string& idHash);

    AccountStore& store_;
    Updates& updates_;
    const HostNaming& naming_;
    static constexpr int kMaxWaiting = 256;
    std::atomic<int> waiting_{0};
    WorkPool work_{1};
};

}  // namespace service
