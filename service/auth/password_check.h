// Password checks that cost no more than they must and cannot be turned into
// a lever: what an update's password check needs, the failures counted per
// address block and the passwords proved recently, under one set of limits.
#pragma once

#include <cstdint>

#include "service/auth/failure_table.h"
#include "service/auth/proven_passwords.h"

namespace service {

struct PasswordCheck {
    struct Limits {
        int maxFailures = 20;  // per source address block and window
        std::int64_t windowSeconds = 60;
        std::int64_t rememberSeconds = 3600;  // how long a proved password is remembered
        std::size_t maxRemembered = 100000;
        std::size_t maxAddresses = 100000;  // blocks whose failures are counted
    };
    PasswordCheck() : PasswordCheck(Limits{}) {}
    explicit PasswordCheck(Limits limits)
        : failures({limits.maxFailures, limits.windowSeconds, limits.maxAddresses}),
          proven({limits.rememberSeconds, limits.maxRemembered}) {}

    FailureTable failures;
    ProvenPasswords proven;
};

}  // namespace service
