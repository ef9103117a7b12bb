#include "service/app/update_decision.h"

namespace service {

UpdateReply UpdateReply::Reply(ReplyCode code, const std::string& address) {
    return {code, 200, std::to_string(static_cast<int>(code)) + address};
}

namespace {

UpdateReply Fail(PasswordCheck& check, ReplyCode code, const std::string& peerAddress,
                 std::int64_t now) {
    check.failures.Failed(peerAddress, now);
    return UpdateReply::Reply(code);
}

// The account changed after its password was proved (user passwd, ban or
// remove while the verification waited): the reply is the one the account as
// it now stands gives, and nothing is recorded.
UpdateReply AsItNowStands(AccountStore& store, PasswordCheck& check, const Account& proved,
                          const std::string& peerAddress, std::int64_t now) {
    Account current;
    switch (store.Look(proved.name, current)) {
        case AccountStore::Presence::Absent:
            return Fail(check, ReplyCode::UnknownLogin, peerAddress, now);
        case AccountStore::Presence::Unknown:
            return UpdateReply::Status(kNotStored);
        case AccountStore::Presence::Found:
            break;
    }
    if (current.passwordHash != proved.passwordHash) {
        return Fail(check, ReplyCode::WrongPassword, peerAddress, now);
    }
    return current.banned ? UpdateReply::Reply(ReplyCode::Banned) : UpdateReply::Status(kNotStored);
}

}  // namespace

// A proved password: a banned account is told so, anyone else's addresses
// are recorded, and never acknowledged when they were not stored.
UpdateReply RecordProvedUpdate(AccountStore& store, PasswordCheck& check, const Account& account,
                               const std::string& peerAddress,
                               const std::vector<HostUpdate>& updates, std::int64_t now) {
    if (account.banned) {
        return UpdateReply::Reply(ReplyCode::Banned);
    }
    for (const HostUpdate& update : updates) {
        switch (store.RecordUpdate(account.name, account.passwordHash, update, peerAddress, now)) {
            case AccountStore::Recording::Recorded:
                break;
            case AccountStore::Recording::AccountChanged:
                return AsItNowStands(store, check, account, peerAddress, now);
            case AccountStore::Recording::Failed:
                return UpdateReply::Status(kNotStored);
        }
    }
    return UpdateReply::Reply(ReplyCode::Updated, peerAddress);
}

// Unknown logins and wrong passwords count against the caller's address, and
// an address over its limit is refused before any lookup or hashing.
UpdateStep BeginUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                       const std::string& password, const std::string& peerAddress,
                       std::int64_t now) {
    if (check.failures.Refused(peerAddress, now)) {
        return {UpdateReply::Status(kTooManyFailures), {}};
    }
    if (login.empty() || login.size() > kMaxParameterBytes) {
        return {Fail(check, ReplyCode::UnknownLogin, peerAddress, now), {}};
    }
    UpdateStep step;
    switch (store.Look(login, step.account)) {
        case AccountStore::Presence::Absent:
            return {Fail(check, ReplyCode::UnknownLogin, peerAddress, now), {}};
        case AccountStore::Presence::Unknown:
            return {UpdateReply::Status(kNotStored), {}};
        case AccountStore::Presence::Found:
            break;
    }
    if (password.size() > kMaxParameterBytes) {
        return {Fail(check, ReplyCode::WrongPassword, peerAddress, now), {}};
    }
    step.proved = check.proven.Recalls(login, password, step.account.passwordHash, now);
    return step;
}

// The verification takes one of the address's attempts while it runs, so
// verifications under way count against its limit.
std::optional<UpdateReply> VerifyUpdate(PasswordCheck& check, const Account& account,
                                        const std::string& password, const std::string& peerAddress,
                                        std::int64_t now) {
    if (!check.failures.Reserve(peerAddress, now)) {
        return UpdateReply::Status(kTooManyFailures);
    }
    const bool match = check.proven.Verify(account.name, password, account.passwordHash, now);
    check.failures.Settle(peerAddress, !match, now);
    return match ? std::nullopt : std::optional(UpdateReply::Reply(ReplyCode::WrongPassword));
}

UpdateReply AnswerUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                         const std::string& password, const std::string& peerAddress,
                         std::int64_t now) {
    UpdateStep step = BeginUpdate(store, check, login, password, peerAddress, now);
    if (step.reply) {
        return *step.reply;
    }
    if (!step.proved) {
        if (auto refused = VerifyUpdate(check, step.account, password, peerAddress, now)) {
            return *refused;
        }
    }
    return RecordProvedUpdate(store, check, step.account, peerAddress,
                              {{"", AddressUpdate::Of(peerAddress)}}, now);
}

}  // namespace service
