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
    const std::optional<Account> current = store.Find(proved.name);
    if (!current) {
        return Fail(check, kUnknownLogin, peerAddress, now);
    }
    if (current->passwordHash != proved.passwordHash) {
        return Fail(check, kWrongPassword, peerAddress, now);
    }
    return current->banned ? Refuse(kBanned) : UpdateReply{kNotStored, ""};
}

// A proved password: a banned account is told so, anyone else's address is
// recorded, and never acknowledged when it was not stored.
UpdateReply Conclude(AccountStore& store, PasswordCheck& check, const Account& account,
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

}  // namespace

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
    std::optional<Account> account = store.Find(login);
    if (!account) {
        return {Fail(check, kUnknownLogin, peerAddress, now), {}};
    }
    if (password.size() > kMaxParameterBytes) {
        return {Fail(check, kWrongPassword, peerAddress, now), {}};
    }
    if (check.Recalls(login, password, account->passwordHash, now)) {
        return {Conclude(store, check, *account, peerAddress, now), {}};
    }
    return {std::nullopt, std::move(*account)};
}

UpdateReply FinishUpdate(AccountStore& store, PasswordCheck& check, const Account& account,
                         const std::string& password, const std::string& peerAddress,
                         std::int64_t now) {
    if (!check.Verify(account.name, password, account.passwordHash, now)) {
        return Fail(check, kWrongPassword, peerAddress, now);
    }
    return Conclude(store, check, account, peerAddress, now);
}

UpdateReply AnswerUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                         const std::string& password, const std::string& peerAddress,
                         std::int64_t now) {
    UpdateStep step = BeginUpdate(store, check, login, password, peerAddress, now);
    return step.reply ? *step.reply
                      : FinishUpdate(store, check, step.account, password, peerAddress, now);
}

}  // namespace service
