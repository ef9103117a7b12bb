#include "service/update_decision.h"

#include "service/passwords.h"

namespace service {

namespace {
UpdateReply Refuse(ReplyCode code) {
    return {code, std::to_string(code)};
}
}  // namespace

UpdateReply AnswerUpdate(AccountStore& store, const std::string& login, const std::string& password,
                         const std::string& peerAddress, std::int64_t now) {
    if (login.empty() || login.size() > kMaxParameterBytes) {
        return Refuse(kUnknownLogin);
    }
    const std::optional<Account> account = store.Find(login);
    if (!account) {
        return Refuse(kUnknownLogin);
    }
    if (password.size() > kMaxParameterBytes || !VerifyPassword(account->passwordHash, password)) {
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
