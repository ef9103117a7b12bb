#include "service/update_decision.h"

namespace service {

namespace {
UpdateReply Refuse(ReplyCode code) {
    return {code, std::to_string(code)};
}

UpdateReply Fail(PasswordCheck& check, ReplyCode code, const std::string& peerAddress,
                 std::int64_t now) {
    check.Failed(peerAddress, now);
    return Refuse(code);
}

// The account changed after its password was proved (user passwd, ban or
// remove while the verification waited): the reply is the one the account as
// it now stands gives, and nothing is recorded.
UpdateReply AsItNowStands(AccountStore& store, PasswordCheck& check, const Account& proved,
                          const std::string& peerAddress, std::int64_t now) {
    Account current;
    switch (store.Look(proved.name, current)) {
        case AccountStore::Presence::Absent:
            return Fail(check, kUnknownLogin, peerAddress, now);
        case AccountStore::Presence::Unknown:
            return {kNotStored, ""};
        case AccountStore::Presence::Found:
            break;
    }
    if (current.passwordHash != proved.passwordHash) {
        return Fail(check, kWrongPassword, peerAddress, now);
    }
    return current.banned ? Refuse(kBanned) : UpdateReply{kNotStored, ""};
}

}  // namespace

// A proved password: a banned account is told so, anyone else's address is
// recorded, and never acknowledged when it was not stored.
UpdateReply RecordUpdate(AccountStore& store, PasswordCheck& check, const Account& account,
                         const std::string& peerAddress, std::int64_t now) {
    if (account.banned) {
        return Refuse(kBanned);
    }
    switch (store.RecordUpdate(account.name, account.passwordHash, peerAddress, now)) {
        case AccountStore::Recording::Recorded:
            return {kUpdated, std::to_string(kUpdated) + peerAddress};
        case AccountStore::Recording::AccountChanged:
            return AsItNowStands(store, check, account, peerAddress, now);
        case AccountStore::Recording::Failed:
            break;
    }
    return {kNotStored, ""};
}

// Unknown logins and wrong passwords count against the caller's address, and
// an address over its limit is refused before any lookup or hashing.
UpdateStep BeginUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                       const std::string& password, const std::string& peerAddress,
                       std::int64_t now) {
    if (check.Refused(peerAddress, now)) {
        return {UpdateReply{kTooManyFailures, ""}, {}};
    }
    if (login.empty() || login.size() > kMaxParameterBytes) {
        return {Fail(check, kUnknownLogin, peerAddress, now), {}};
    }
    UpdateStep step;
    switch (store.Look(login, step.account)) {
        case AccountStore::Presence::Absent:
            return {Fail(check, kUnknownLogin, peerAddress, now), {}};
        case AccountStore::Presence::Unknown:
            return {UpdateReply{kNotStored, ""}, {}};
        case AccountStore::Presence::Found:
            break;
    }
    if (password.size() > kMaxParameterBytes) {
        return {Fail(check, kWrongPassword, peerAddress, now), {}};
    }
    step.proved = check.Recalls(login, password, step.account.passwordHash, now);
    return step;
}

// The verification takes one of the address's attempts while it runs, so
// verifications under way count against its limit.
std::optional<UpdateReply> VerifyUpdate(PasswordCheck& check, const Account& account,
                                        const std::string& password, const std::string& peerAddress,
                                        std::int64_t now) {
    if (!check.Reserve(peerAddress, now)) {
        return UpdateReply{kTooManyFailures, ""};
    }
    const bool match = check.Verify(account.name, password, account.passwordHash, now);
    check.Settle(peerAddress, !match, now);
    return match ? std::nullopt : std::optional(Refuse(kWrongPassword));
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
    return RecordUpdate(store, check, step.account, peerAddress, now);
}

}  // namespace service
