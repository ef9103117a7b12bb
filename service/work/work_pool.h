// A fixed set of threads taking jobs in order, so work that blocks (database
// writes, password hashing) never holds the thread that serves the sockets.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace service {

// The processors this process may run on (its affinity mask, as taskset or a
// container's CPU set narrows it; at least one): how many threads a pool of
// CPU-bound work should have.
int ProcessorCount();

class WorkPool {
public:
    explicit WorkPool(int threads);
    // Stops (see Stop) and waits for the running jobs however long they take.
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    void Post(std::function<void()> job);
    // Drops the jobs not yet started and waits up to within for the running
    // ones; false when some still run.
    bool Stop(std::chrono::milliseconds within);

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    int running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace service
