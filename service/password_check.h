// Password checks that cost no more than they must and cannot be turned into
// a lever: a client that proved its password within the hour is answered from
// memory, at most as many Argon2 verifications run at once as there are cores,
// and an address that keeps failing is refused before any work is done.
// Addresses are counted by block (an IPv6 /64 as one address): a verification
// takes one of its block's attempts from the moment it starts, so however many
// run at once, a block never gets more than its limit of failures.
#pragma once

#include <array>
#include <cstdint>
#include <list>
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
        std::size_t maxAddresses = 100000;  // blocks whose failures are counted
    };
    PasswordCheck();
    explicit PasswordCheck(Limits limits);

    // True while address's block has failed too often to be heard: its
    // failures and the verifications under way reach the limit.
    bool Refused(const std::string& address, std::int64_t now);
    // Takes one attempt of address's block for a verification about to
    // start; false, taking nothing, when the block is refused.
    bool Reserve(const std::string& address, std::int64_t now);
    // Ends a reserved attempt: a failure counts, a success is given back.
    void Settle(const std::string& address, bool failed, std::int64_t now);
    // The failures of address's block in its current window.
    int FailuresOf(const std::string& address, std::int64_t now);
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
        int underWay = 0;  // verifications reserved and not yet settled
        bool blocked = false;
        std::list<std::string>::iterator age;  // its place in opened_ or blocked_
    };

    Digest Key(const std::string& login, const std::string& password,
               const std::string& storedHash) const;
    void Remember(const Digest& key, std::int64_t now);
    // The block's counts in a current window (a new one when its last ended),
    // or null when the table is full of blocks that must be kept. Takes mutex_.
    Failures* Current(const std::string& block, std::int64_t now);
    bool Over(const Failures& f) const { return f.count + f.underWay >= limits_.maxFailures; }
    // Makes room in the table by age: a block whose window has ended goes
    // first, then the oldest one not blocked and with nothing under way.
    bool MakeRoom(std::int64_t now);
    void Forget(std::map<std::string, Failures>::iterator it);
    void CountFailure(Failures& f, const std::string& block);

    Limits limits_;
    std::array<unsigned char, 32> secret_{};  // drawn once per process
    std::counting_semaphore<> verifications_;
    std::mutex mutex_;
    std::unordered_map<Digest, std::int64_t, DigestHash> remembered_;  // digest -> expiry
    std::map<std::string, Failures> failures_;
    // Blocks by the start of their window, oldest first: those still heard,
    // and those refused, which are kept until their window ends.
    std::list<std::string> opened_;
    std::list<std::string> blocked_;
};

}  // namespace service
