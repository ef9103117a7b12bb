#include "service/verification_queue.h"

#include <tuple>

namespace service {

VerificationQueue::VerificationQueue(int threads, Standing standing)
    : standing_(std::move(standing)) {
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

VerificationQueue::~VerificationQueue() {
    Stop(std::chrono::milliseconds::zero());
    for (std::thread& t : threads_) {
        t.join();
    }
}

void VerificationQueue::Post(const std::string& block, Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        lines_[block].jobs.push_back(std::move(job));
    }
    wake_.notify_one();
}

bool VerificationQueue::Stop(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    lines_.clear();
    wake_.notify_all();
    return idle_.wait_for(lock, within, [this] { return running_ == 0; });
}

std::unordered_map<std::string, VerificationQueue::Line>::iterator VerificationQueue::NextLine() {
    auto best = lines_.end();
    std::tuple<int, std::size_t, std::uint64_t> bestRank{};
    for (auto it = lines_.begin(); it != lines_.end(); ++it) {
        const std::tuple<int, std::size_t, std::uint64_t> rank{
            standing_(it->first), it->second.jobs.size(), it->second.lastServed};
        if (best == lines_.end() || rank < bestRank) {
            best = it;
            bestRank = rank;
        }
    }
    return best;
}

void VerificationQueue::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !lines_.empty(); });
        if (stopping_) {
            return;
        }
        auto line = NextLine();
        Job job = std::move(line->second.jobs.front());
        line->second.jobs.pop_front();
        line->second.lastServed = ++turns_;
        if (line->second.jobs.empty()) {
            lines_.erase(line);
        }
        ++running_;
        lock.unlock();
        if (job.gone()) {
            job.skip();
        } else {
            job.run();
        }
        lock.lock();
        if (--running_ == 0) {
            idle_.notify_all();
        }
    }
}

}  // namespace service
