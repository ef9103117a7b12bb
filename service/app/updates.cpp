#include "service/app/updates.h"

#include <algorithm>

#include "service/common/address.h"
#include "service/common/utc_time.h"

namespace service {

namespace {

HttpResponse Response(const UpdateReply& reply) {
    if (!reply.code) {
        return HttpResponse::Status(reply.httpStatus);
    }
    return HttpResponse::Content("text/plain", reply.body);
}

}  // namespace

Updates::Updates(AccountStore& store)
    : store_(store),
      verifications_(ProcessorCount(),
                     [this](const std::string& block) {
                         return check_.failures.FailuresOf(block, NowSeconds());
                     }),
      records_(store.ConcurrentWrites()) {}

std::optional<HttpResponse> Updates::Start(const std::string& login, const std::string& password,
                                           const std::string& peer, HttpServer::Reply reply) {
    if (check_.failures.Refused(peer, NowSeconds())) {
        return HttpResponse::Status(kTooManyFailures);
    }
    lookups_.Post([this, login, password, peer, reply] {
        UpdateStep step = BeginUpdate(store_, check_, login, password, peer, NowSeconds());
        if (step.reply) {
            reply(Response(*step.reply));
        } else if (step.proved) {
            Record(std::move(step.account), peer, reply);
        } else {
            Verify(std::move(step.account), password, peer, reply);
        }
    });
    return std::nullopt;
}

void Updates::Verify(Account account, const std::string& password, const std::string& peer,
                     const HttpServer::Reply& reply) {
    FairQueue::Job job;
    job.run = [this, account = std::move(account), password, peer, reply]() mutable {
        if (auto refused = VerifyUpdate(check_, account, password, peer, NowSeconds())) {
            reply(Response(*refused));
        } else {
            Record(std::move(account), peer, reply);
        }
    };
    job.gone = [reply] { return reply.ClientGone(); };
    job.skip = [reply] { reply(HttpResponse::Status(kClientGone)); };
    verifications_.Post(AddressBlock(peer), std::move(job));
}

void Updates::Record(Account account, const std::string& peer, const HttpServer::Reply& reply) {
    records_.Post([this, account = std::move(account), peer, reply] {
        const UpdateReply answer = RecordProvedUpdate(store_, check_, account, peer, NowSeconds());
        reply(Response(answer));
        if (answer.code == ReplyCode::Updated && account.lastAddress != peer) {
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
