#include "service/common/refusal_summary.h"

#include "service/common/log_line.h"

namespace service {

std::string RefusalSummary::Summary(const std::string& address, std::uint64_t more) {
    return more == 0 ? std::string()
                     : address + " " + std::to_string(more) +
                           " more requests refused status=429 within a minute\n";
}

bool RefusalSummary::Log(const std::string& address, std::int64_t now, std::string& before) {
    std::lock_guard lock(mutex_);
    auto it = minutes_.find(address);
    if (it != minutes_.end() && now - it->second.start < kMinute) {
        ++it->second.more;
        return false;
    }
    if (it == minutes_.end() && minutes_.size() >= maxAddresses_) {
        ++untracked_;
        return false;
    }
    before = it == minutes_.end() ? std::string() : Summary(address, it->second.more);
    minutes_[address] = {now, 0};
    return true;
}

std::string RefusalSummary::Over(std::int64_t now, bool everything) {
    std::lock_guard lock(mutex_);
    if (!everything && now == lastSweep_) {
        return {};
    }
    lastSweep_ = now;
    std::string lines;
    for (auto it = minutes_.begin(); it != minutes_.end();) {
        if (!everything && now - it->second.start < kMinute) {
            ++it;
            continue;
        }
        lines += Summary(it->first, it->second.more);
        it = minutes_.erase(it);
    }
    if (untracked_ > 0) {
        lines += ServiceLine(std::to_string(untracked_) +
                             " requests refused status=429 from further addresses");
        untracked_ = 0;
    }
    return lines;
}

}  // namespace service
