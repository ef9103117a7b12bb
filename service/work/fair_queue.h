// Jobs waiting for a thread, taken fairly across the parties that asked for
// them: each party (a key, such as an address block) waits in its own line,
// and the next job comes from the party with the lowest standing (for
// password verifications: the fewest recent failures), then the fewest
// waiting, then the one served longest ago; so a flood from one party cannot
// push back a first job from another. A job whose client has gone is skipped
// before it starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "service/work/work_pool.h"

namespace service {

class FairQueue {
public:
    struct Job {
        std::function<void()> run;
        std::function<bool()> gone;  // true when its client has left
        std::function<void()> skip;  // instead of run, for a client that has left
    };
    // Lower goes first.
    using Standing = std::function<int(const std::string& party)>;

    FairQueue(int threads, Standing standing);

    void Post(const std::string& party, Job job);
    // Drops the jobs not yet started and waits up to within for the running
    // ones; false when some still run.
    bool Stop(std::chrono::milliseconds within);

private:
    struct Line {
        std::deque<Job> jobs;
        std::uint64_t lastServed = 0;  // 0 for a party not yet served since it came
    };
    // Each job posted to the pool runs whichever job's turn it then is.
    void RunNext();
    // The party whose turn it is; lines_ must not be empty.
    std::unordered_map<std::string, Line>::iterator NextLine();

    Standing standing_;
    std::mutex mutex_;
    std::unordered_map<std::string, Line> lines_;  // parties with jobs waiting
    std::uint64_t turns_ = 0;
    WorkPool pool_;  // last: its threads stop before the lines go
};

}  // namespace service
