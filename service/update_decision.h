// The answer to one update request: the reply code (and, on success, the
// caller's address), and the update recorded for the account.
#pragma once

#include <cstdint>
#include <string>

#include "service/account_store.h"

namespace service {

inline constexpr std::size_t kMaxParameterBytes = 256;

enum ReplyCode { kUpdated = 100, kUnknownLogin = 101, kWrongPassword = 102, kBanned = 103 };
// Not a reply of the protocol: the update could not be stored, which is
// answered as HTTP 503 with an empty body, never as success.
inline constexpr int kNotStored = 503;

struct UpdateReply {
    int code;          // a ReplyCode, or kNotStored
    std::string body;  // the three digits, then the address for code 100; empty for kNotStored
};

// Decides the reply for a login and password from peerAddress at time now,
// recording the update when it succeeds. Over-long values are refused before
// any hashing work.
UpdateReply AnswerUpdate(AccountStore& store, const std::string& login, const std::string& password,
                         const std::string& peerAddress, std::int64_t now);

}  // namespace service
