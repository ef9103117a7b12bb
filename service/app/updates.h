// The work behind an update, off the thread that serves the sockets: lookups
// in one pool, the password verifications in a fair queue by address block,
// and the writes in a pool of their own, so clients answered from memory never
// wait behind a verification, and nothing that needs no write waits behind one
// that waits for the database.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "service/app/update_decision.h"
#include "service/auth/password_check.h"
#include "service/http/server.h"
#include "service/store/account_store.h"
#include "service/work/fair_queue.h"
#include "service/work/work_pool.h"

namespace service {

class Updates {
public:
    explicit Updates(AccountStore& store);

    // Told when an update recorded a new address.
    std::function<void()> addressChanged = [] {};

    // Not a reply of the protocol: the work for a client that had gone was
    // skipped. Only ever logged.
    static constexpr int kClientGone = 499;

    // One update: whose password proves it, where it came from (the
    // address whose failures count), what to record on the account's hosts
    // (nothing: the password is proved and nothing recorded), and how the
    // outcome is answered, given the account as it stood before (with its
    // other hosts when withHosts).
    struct Request {
        std::string login;
        std::string password;
        std::string peer;
        std::function<std::vector<HostUpdate>(const Account&)> addressFor;
        std::function<HttpResponse(const UpdateReply&, const Account&)> answer;
        // Whether the password proves the request without a verification
        // (a host's update token); none: only the account's password does.
        std::function<bool(const Account&)> provedOtherwise = nullptr;
        bool withHosts = false;
        // An unknown login is answered only after a verification as long as
        // a real one, so that it reads and takes the same as a wrong password.
        bool evenTime = false;
    };
    // Answers request at once (through its answer) when its peer is refused
    // for now, else later through reply.
    std::optional<HttpResponse> Start(Request request, HttpServer::Reply reply);
    // Stops taking work; false when some is still running after within.
    bool Stop(std::chrono::milliseconds within);

private:
    using Shared = std::shared_ptr<const Request>;
    void Verify(Account account, const Shared& request, const HttpServer::Reply& reply);
    void EvenOut(const UpdateReply& answer, const Shared& request, const HttpServer::Reply& reply);
    bool ProvedOtherwise(const Request& request, Account& account);
    void Record(Account account, const Shared& request, const HttpServer::Reply& reply);

    AccountStore& store_;
    PasswordCheck check_;
    WorkPool lookups_{1};
    FairQueue verifications_;
    WorkPool records_;
};

}  // namespace service
