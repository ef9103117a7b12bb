#include "service/work/work_pool.h"

#include <sched.h>

#include <algorithm>

namespace service {

int ProcessorCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return std::max(1, CPU_COUNT(&allowed));
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

WorkPool::WorkPool(int threads) {
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

WorkPool::~WorkPool() {
    Stop(std::chrono::milliseconds::zero());
    for (std::thread& t : threads_) {
        t.join();
    }
}

void WorkPool::Post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

bool WorkPool::Stop(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    jobs_.clear();
    wake_.notify_all();
    return idle_.wait_for(lock, within, [this] { return running_ == 0; });
}

void WorkPool::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) {
            return;
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
        lock.unlock();
        job();
        lock.lock();
        if (--running_ == 0) {
            idle_.notify_all();
        }
    }
}

}  // namespace service
