#include "service/app/updates.h"

#include <algorithm>

#include "service/auth/password_hash.h"
#include "service/common/address.h"
#include "service/common/utc_time.h"

namespace service {

namespace {

// Whether any of updates gives its host an address it does not have, as the
// account stood before.
bool ChangesAny(const Account& account, const std::vector<HostUpdate>& updates) {
    return std::any_of(updates.begin(), updates.end(), [&account](const HostUpdate& update) {
        if (update.label.empty()) {
            return update.addresses.Changes(account);
        }
        const Host* host = account.FindHost(update.label);
        return host == nullptr || update.addresses.Changes(*host);
    });
}

// A verification's place in the queue, skipped when its client has gone.
FairQueue::Job QueuedFor(const HttpServer::Reply& reply, std::function<void()> run) {
    FairQueue::Job job;
    job.run = std::move(run);
    job.gone = [reply] { return reply.ClientGone(); };
    job.skip = [reply] { reply(HttpResponse::Status(Updates::kClientGone)); };
    return job;
}

}  // namespace

Updates::Updates(AccountStore& store)
    : store_(store),
      verifications_(ProcessorCount(),
                     [this](const std::string& block) {
                         return check_.failures.FailuresOf(block, NowSeconds());
                     }),
      records_(store.ConcurrentWrites()) {}

std::optional<HttpResponse> Updates::Start(Request request, HttpServer::Reply reply) {
    if (check_.failures.Refused(request.peer, NowSeconds())) {
        return request.answer(UpdateReply::Status(kTooManyFailures), Account{});
    }
    lookups_.Post([this, request = std::make_shared<const Request>(std::move(request)), reply] {
        UpdateStep step = BeginUpdate(store_, check_, request->login, request->password,
                                      request->peer, NowSeconds());
        if (!step.reply && request->withHosts && !store_.ReadHosts(step.account)) {
            step.reply = UpdateReply::Status(kNotStored);
        }
        if (step.reply && request->evenTime && step.reply->code == ReplyCode::UnknownLogin) {
            EvenOut(*step.reply, request, reply);
        } else if (step.reply) {
            reply(request->answer(*step.reply, step.account));
        } else if (step.proved || ProvedOtherwise(*request, step.account)) {
            Record(std::move(step.account), request, reply);
        } else {
            Verify(std::move(step.account), request, reply);
        }
    });
    return std::nullopt;
}

void Updates::Verify(Account account, const Shared& request, const HttpServer::Reply& reply) {
    verifications_.Post(
        AddressBlock(request->peer),
        QueuedFor(reply, [this, account = std::move(account), request, reply]() mutable {
            if (auto refused =
                    VerifyUpdate(check_, account, request->password, request->peer, NowSeconds())) {
                reply(request->answer(*refused, account));
            } else {
                Record(std::move(account), request, reply);
            }
        }));
}

// A host's token, looked for among the account's other hosts too when they
// were not read and its own host's does not take it.
bool Updates::ProvedOtherwise(const Request& request, Account& account) {
    if (!request.provedOtherwise) {
        return false;
    }
    if (request.provedOtherwise(account)) {
        return true;
    }
    return !request.withHosts && store_.ReadHosts(account) && request.provedOtherwise(account);
}

// The verification of a stand-in hash of the accounts' strength, for a
// password no account has, in the same queue as real ones.
void Updates::EvenOut(const UpdateReply& answer, const Shared& request,
                      const HttpServer::Reply& reply) {
    verifications_.Post(AddressBlock(request->peer), QueuedFor(reply, [answer, request, reply] {
                            static const std::string standIn =
                                HashPassword("stand-in", HashStrength::Interactive).value_or("");
                            VerifyPassword(standIn, request->password);
                            reply(request->answer(answer, Account{}));
                        }));
}

// A request that records nothing is answered as soon as its password is
// proved.
void Updates::Record(Account account, const Shared& request, const HttpServer::Reply& reply) {
    std::vector<HostUpdate> updates = request->addressFor(account);
    if (updates.empty()) {
        const ReplyCode code = account.banned ? ReplyCode::Banned : ReplyCode::Updated;
        reply(request->answer(UpdateReply::Reply(code), account));
        return;
    }
    records_.Post(
        [this, account = std::move(account), updates = std::move(updates), request, reply] {
            const UpdateReply answer =
                RecordProvedUpdate(store_, check_, account, request->peer, updates, NowSeconds());
            reply(request->answer(answer, account));
            if (answer.code == ReplyCode::Updated && ChangesAny(account, updates)) {
                addressChanged();
            }
        });
}

bool Updates::Stop(std::chrono::milliseconds within) {
    const auto until = std::chrono::steady_clock::now() + within;
    const auto left = [until] {
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                            until - std::chrono::steady_clock::now()),
                        std::chrono::milliseconds::zero());
    };
    return lookups_.Stop(left()) && verifications_.Stop(left()) && records_.Stop(left());
}

}  // namespace service
