#include "service/work/fair_queue.h"

#include <tuple>
#include <utility>

namespace service {

FairQueue::FairQueue(int threads, Standing standing)
    : standing_(std::move(standing)), pool_(threads) {}

void FairQueue::Post(const std::string& party, Job job) {
    {
        std::lock_guard lock(mutex_);
        lines_[party].jobs.push_back(std::move(job));
    }
    pool_.Post([this] { RunNext(); });
}

bool FairQueue::Stop(std::chrono::milliseconds within) {
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    return pool_.Stop(within);
}

std::unordered_map<std::string, FairQueue::Line>::iterator FairQueue::NextLine() {
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

void FairQueue::RunNext() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (lines_.empty()) {
            return;  // dropped by Stop
        }
        auto line = NextLine();
        job = std::move(line->second.jobs.front());
        line->second.jobs.pop_front();
        line->second.lastServed = ++turns_;
        if (line->second.jobs.empty()) {
            lines_.erase(line);
        }
    }
    if (job.gone()) {
        job.skip();
    } else {
        job.run();
    }
}

}  // namespace service
