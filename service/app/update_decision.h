// The answer to one update request: the reply code (and, on success, the
// caller's address), and the update recorded for the account.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/auth/password_check.h"
#include "service/store/account_store.h"

namespace service {

inline constexpr std::size_t kMaxParameterBytes = 256;

// The replies of the update protocol, each sent as HTTP 200 with its digits.
enum class ReplyCode { Updated = 100, UnknownLogin = 101, WrongPassword = 102, Banned = 103 };

// HTTP statuses of an update that gets no reply of the protocol, answered
// with an empty body: the update could not be stored (never answered as
// success), and the caller's address failed too often to be heard for now.
inline constexpr int kNotStored = 503;
inline constexpr int kTooManyFailures = 429;

struct UpdateReply {
    std::optional<ReplyCode> code;  // none when answered by its status alone
    int httpStatus = 200;           // kNotStored or kTooManyFailures when there is no code
    std::string body;               // the code's digits, then the address for Updated

    static UpdateReply Reply(ReplyCode code, const std::string& address = "");
    static UpdateReply Status(int httpStatus) { return {std::nullopt, httpStatus, ""}; }
};

// The first step of an update, everything that costs no password hashing and
// no write: either the reply, or the account whose password was remembered
// (proved) or must still be verified.
struct UpdateStep {
    std::optional<UpdateReply> reply;
    Account account;
    bool proved = false;
};
UpdateStep BeginUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                       const std::string& password, const std::string& peerAddress,
                       std::int64_t now);

// The second step for an account whose password was not remembered: the reply
// when the password is wrong or the address may not try now, nothing when it
// is proved.
std::optional<UpdateReply> VerifyUpdate(PasswordCheck& check, const Account& account,
                                        const std::string& password, const std::string& peerAddress,
                                        std::int64_t now);

// The last step, for a proved password: records each host's update unless
// the account changed meanwhile, and replies (the address of Updated is
// peerAddress, where the updates are noted to come from).
UpdateReply RecordProvedUpdate(AccountStore& store, PasswordCheck& check, const Account& account,
                               const std::string& peerAddress,
                               const std::vector<HostUpdate>& updates, std::int64_t now);

// Every step: decides the reply for a login and password from peerAddress at
// time now, recording the update when it succeeds. Over-long values are
// refused before any hashing work.
UpdateReply AnswerUpdate(AccountStore& store, PasswordCheck& check, const std::string& login,
                         const std::string& password, const std::string& peerAddress,
                         std::int64_t now);

}  // namespace service
