// Password verifications waiting for a core, taken fairly across the address
// blocks that asked for them: each block waits in its own line, and the next
// verification comes from the block with the fewest recent failures, then the
// fewest waiting, then the one served longest ago; so a flood from one
// address, or from many that keep failing, cannot push back a first login
// from elsewhere. Work whose client has gone is skipped before it starts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace service {

class VerificationQueue {
public:
    struct Job {
        std::function<void()> run;
        std::function<bool()> gone;  // true when its client has left
        std::function<void()> skip;  // instead of run, for a client that has left
    };
    // Lower goes first: the recent failures of a block.
    using Standing = std::function<int(const std::string& block)>;

    VerificationQueue(int threads, Standing standing);
    // Stops (see Stop) and waits for the running jobs however long they take.
    ~VerificationQueue();
    VerificationQueue(const VerificationQueue&) = delete;
    VerificationQueue& operator=(const VerificationQueue&) = delete;

    void Post(const std::string& block, Job job);
    // Drops the jobs not yet started and waits up to within for the running
    // ones; false when some still run.
    bool Stop(std::chrono::milliseconds within);

private:
    struct Line {
        std::deque<Job> jobs;
        std::uint64_t lastServed = 0;  // 0 for a block not yet served since it came
    };
    void Work();
    // The block whose turn it is; lines_ must not be empty.
    std::unordered_map<std::string, Line>::iterator NextLine();

    Standing standing_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::unordered_map<std::string, Line> lines_;  // blocks with jobs waiting
    std::uint64_t turns_ = 0;
    int running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace service
