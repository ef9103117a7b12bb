// Passwords proved recently, so that a client that proved its password within
// the hour is answered from memory, and at most as many full verifications
// run at once as there are cores.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <semaphore>
#include <string>
#include <unordered_map>

namespace service {

class ProvenPasswords {
public:
    struct Limits {
        std::int64_t rememberSeconds = 3600;  // how long a proved password is remembered
        std::size_t maxRemembered = 100000;
    };
    explicit ProvenPasswords(Limits limits);

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

private:
    using Digest = std::array<unsigned char, 32>;
    struct DigestHash {
        std::size_t operator()(const Digest& d) const;
    };

    Digest Key(const std::string& login, const std::string& password,
               const std::string& storedHash) const;
    void Remember(const Digest& key, std::int64_t now);

    Limits limits_;
    std::array<unsigned char, 32> secret_{};  // drawn once per process
    std::counting_semaphore<> verifications_;
    std::mutex mutex_;
    std::unordered_map<Digest, std::int64_t, DigestHash> remembered_;  // digest -> expiry
};

}  // namespace service
