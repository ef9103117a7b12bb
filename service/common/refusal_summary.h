// Repeated refusals of one address summed up in one log line per address and
// minute, so a flood of refused requests cannot flood the log.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace service {

// Which refusals of an address are logged: the first of each minute; the
// others are counted and told in one line when that minute is over (or when
// the service stops). Tracks at most maxAddresses at once; refusals of
// further addresses are counted together.
class RefusalSummary {
public:
    explicit RefusalSummary(std::size_t maxAddresses = 100000) : maxAddresses_(maxAddresses) {}

    // True when this refusal is to be logged itself; before is then the
    // summary of the address's previous minute, to be logged first (or empty).
    bool Log(const std::string& address, std::int64_t now, std::string& before);
    // The summary lines of the minutes over by now (all of them with
    // everything), each ending in a line end.
    std::string Over(std::int64_t now, bool everything = false);

private:
    static std::string Summary(const std::string& address, std::uint64_t more);
    struct Minute {
        std::int64_t start = 0;
        std::uint64_t more = 0;  // refusals after the logged one
    };
    static constexpr std::int64_t kMinute = 60;

    std::mutex mutex_;
    std::size_t maxAddresses_;
    std::map<std::string, Minute> minutes_;
    std::uint64_t untracked_ = 0;
    std::int64_t lastSweep_ = 0;
};

}  // namespace service
