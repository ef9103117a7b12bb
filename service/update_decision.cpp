#include "service/update_decision.h"

namespace service {

namespace {
UpdateReply Refuse(ReplyCode code) {
    return {code, std::to_string(code)};
}
}  // namespace

// Unknown logins and wrong passwords count against the caller's address, and
// an address over its limit is refused before any lookup or hashing.
UpdateReply AnswerUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                         const std::string& password, const std::string& peerAddress,
                         std::int64_t now) {
    if (check.Refused(peerAddress, now)) {
        return {kTooManyFailures, ""};
    }
    if (login.empty() || login.size() > kMaxParameterBytes) {
        check.Failed(peerAddress, now);
        return Refuse(kUnknownLogin);
    }
    const std::optional<Account> account = store.Find(login);
    if (!account) {
        check.Failed(peerAddress, now);
        return Refuse(kUnknownLogin);
    }
    if (password.size() > kMaxParameterBytes ||
        !check.Matches(login, password, account->passwordHash, now)) {
        check.Failed(peerAddress, now);
        return Refuse(kWrongPassword);
    }
    if (account->banned) {
        return Refuse(kBanned);
    }
    if (!store.RecordUpdate(login, peerAddress, now)) {
        return {kNotStored, ""};
    }
    return {kUpdated, std::to_string(kUpdated) + peerAddress};
}

}  // namespace service
