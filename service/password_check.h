// Password checks that cost no more than they must and cannot be turned into
// a lever: a client that proved its password within the hour is answered from
// memory, at most as many Argon2 verifications run at once as there are cores,
// and an address that keeps failing is refused before any work is done.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <unordered_map>

namespace service {

class PasswordCheck {
public:
    struct Limits {
        int maxFailures = 20;  // per source address and window
        std::int64_t windowSeconds = 60;
        std::int64_t rememberSeconds = 3600;  // how long a proved password is remembered
        std::size_t maxRemembered = 100000;
    };
    PasswordCheck();
    explicit PasswordCheck(Limits limits);

    // True while address has failed too often to be heard.
    bool Refused(const std::string& address, std::int64_t now);
    // True when password was proved against storedHash within the hour: the
    // answer is remembered under a keyed hash of login, password and stored
    // hash, so a new password (user passwd, from any process) never matches an
    // old entry. Costs no password hashing.
    bool Recalls(const std::string& login, const std::string& password,
                 const std::string& storedHash, std::int64_t now);
    // Whether password is the one storedHash was made from, by a full
    // verification (at most one per core at a time); a match is remembered.
    bool Verify(const std::string& login, const std::string& password,
                const std::string& storedHash, std::int64_t now);
    // Counts a failed attempt (unknown login or wrong password) of address.
    void Failed(const std::string& address, std::int64_t now);

private:
    using Digest = std::array<unsigned char, 32>;
    struct DigestHash {
        std::size_t operator()(const Digest& d) const;
    };
    struct Failures {
        std::int64_t windowStart = 0;
        int count = 0;
    };

    Digest Key(const std::string& login, const std::string& password,
               const std::string& storedHash) const;
    void Remember(const Digest& key, std::int64_t now);

    Limits limits_;
    std::array<unsigned char, 32> secret_{};  // drawn once per process
    std::counting_semaphore<> verifications_;
    std::mutex mutex_;
    std::unordered_map<Digest, std::int64_t, DigestHash> remembered_;  // digest -> expiry
    std::map<std::string, Failures> failures_;
};

}  // namespace service
