// The service's log, written by a thread of its own through a bounded queue:
// a reader that stops reading (a full pipe) costs log lines, counted and
// reported once it reads again, never an answer. Repeated refusals of one
// address are summed up in one line per address and minute.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace service {

class LogWriter {
public:
    explicit LogWriter(std::ostream& out, std::size_t maxQueuedBytes = 256 * 1024);
    // Writes what is queued, waiting at most a second for a stalled reader.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues whole lines (each with its line end); dropped when the queue is
    // full.
    void Write(std::string lines);
    // Waits until what is queued is written, at most a second; false when the
    // reader still stalls the writing.
    bool Flush();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;  // also held by the writing thread
};

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
