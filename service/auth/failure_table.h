// Failed logins counted per address block (an IPv6 /64 as one address), so
// that an address that keeps failing is refused before any work is done. A
// verification takes one of its block's attempts from the moment it starts,
// so however many run at once, a block never gets more than its limit of
// failures. The table is bounded: blocks still heard make room by age,
// refused ones are kept until their window ends.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>

namespace service {

class FailureTable {
public:
    struct Limits {
        int maxFailures = 20;  // per address block and window
        std::int64_t windowSeconds = 60;
        std::size_t maxAddresses = 100000;  // blocks whose failures are counted
    };
    explicit FailureTable(Limits limits) : limits_(limits) {}

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
    // Counts a failed attempt (unknown login or wrong password) of address.
    void Failed(const std::string& address, std::int64_t now);

private:
    struct Failures {
        std::int64_t windowStart = 0;
        int count = 0;
        int underWay = 0;  // verifications reserved and not yet settled
        bool blocked = false;
        std::list<std::string>::iterator age;  // its place in opened_ or blocked_
    };

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
    std::mutex mutex_;
    std::map<std::string, Failures> failures_;
    // Blocks by the start of their window, oldest first: those still heard,
    // and those refused, which are kept until their window ends.
    std::list<std::string> opened_;
    std::list<std::string> blocked_;
};

}  // namespace service
