#include "service/auth/failure_table.h"

#include "service/common/address.h"

namespace service {

FailureTable::Failures* FailureTable::Current(const std::string& block, std::int64_t now) {
    auto it = failures_.find(block);
    if (it != failures_.end() && now - it->second.windowStart >= limits_.windowSeconds &&
        it->second.underWay == 0) {
        Forget(it);
        it = failures_.end();
    }
    if (it == failures_.end()) {
        if (failures_.size() >= limits_.maxAddresses && !MakeRoom(now)) {
            return nullptr;
        }
        it = failures_.emplace(block, Failures{now, 0, 0, false, {}}).first;
        it->second.age = opened_.insert(opened_.end(), block);
    }
    return &it->second;
}

void FailureTable::Forget(std::map<std::string, Failures>::iterator it) {
    (it->second.blocked ? blocked_ : opened_).erase(it->second.age);
    failures_.erase(it);
}

bool FailureTable::MakeRoom(std::int64_t now) {
    for (std::list<std::string>* byAge : {&blocked_, &opened_}) {
        if (!byAge->empty()) {
            auto it = failures_.find(byAge->front());
            if (now - it->second.windowStart >= limits_.windowSeconds && it->second.underWay == 0) {
                Forget(it);
                return true;
            }
        }
    }
    for (const std::string& block : opened_) {
        auto it = failures_.find(block);
        if (it->second.underWay == 0) {
            Forget(it);
            return true;
        }
    }
    return false;
}

void FailureTable::CountFailure(Failures& f, const std::string& block) {
    ++f.count;
    if (!f.blocked && Over(f)) {
        opened_.erase(f.age);
        f.age = blocked_.insert(blocked_.end(), block);
        f.blocked = true;
    }
}

bool FailureTable::Refused(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    auto it = failures_.find(AddressBlock(address));
    return it != failures_.end() && now - it->second.windowStart < limits_.windowSeconds &&
           Over(it->second);
}

bool FailureTable::Reserve(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    Failures* f = Current(AddressBlock(address), now);
    if (f == nullptr || Over(*f)) {
        return false;
    }
    ++f->underWay;
    return true;
}

void FailureTable::Settle(const std::string& address, bool failed, std::int64_t now) {
    std::lock_guard lock(mutex_);
    const std::string block = AddressBlock(address);
    auto it = failures_.find(block);
    if (it == failures_.end()) {
        return;
    }
    --it->second.underWay;
    if (failed) {
        CountFailure(it->second, block);
    } else if (now - it->second.windowStart >= limits_.windowSeconds && it->second.underWay == 0) {
        Forget(it);
    }
}

int FailureTable::FailuresOf(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    auto it = failures_.find(AddressBlock(address));
    return it != failures_.end() && now - it->second.windowStart < limits_.windowSeconds
               ? it->second.count
               : 0;
}

void FailureTable::Failed(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    const std::string block = AddressBlock(address);
    if (Failures* f = Current(block, now)) {
        CountFailure(*f, block);
    }
}

}  // namespace service
