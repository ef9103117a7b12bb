#include "service/password_check.h"

#include <sodium.h>

#include <cstring>

#include "service/address_block.h"
#include "service/passwords.h"
#include "service/work_pool.h"

namespace service {

PasswordCheck::PasswordCheck() : PasswordCheck(Limits{}) {}

PasswordCheck::PasswordCheck(Limits limits) : limits_(limits), verifications_(ProcessorCount()) {
    randombytes_buf(secret_.data(), secret_.size());
}

std::size_t PasswordCheck::DigestHash::operator()(const Digest& d) const {
    std::size_t h = 0;
    std::memcpy(&h, d.data(), sizeof h);  // the digest is already uniform
    return h;
}

PasswordCheck::Digest PasswordCheck::Key(const std::string& login, const std::string& password,
                                         const std::string& storedHash) const {
    crypto_generichash_state state;
    crypto_generichash_init(&state, secret_.data(), secret_.size(), sizeof(Digest));
    // Each part is preceded by its length, so no two triples share an input.
    for (const std::string* part : {&login, &password, &storedHash}) {
        const std::uint64_t size = part->size();
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&size),
                                  sizeof size);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(part->data()),
                                  part->size());
    }
    Digest digest;
    crypto_generichash_final(&state, digest.data(), digest.size());
    return digest;
}

bool PasswordCheck::Recalls(const std::string& login, const std::string& password,
                            const std::string& storedHash, std::int64_t now) {
    const Digest key = Key(login, password, storedHash);
    std::lock_guard lock(mutex_);
    auto it = remembered_.find(key);
    return it != remembered_.end() && it->second > now;
}

// The memory is bounded: expired entries go first, and when every entry is
// still fresh the oldest knowledge is simply forgotten.
void PasswordCheck::Remember(const Digest& key, std::int64_t now) {
    std::lock_guard lock(mutex_);
    if (remembered_.size() >= limits_.maxRemembered) {
        std::erase_if(remembered_, [now](const auto& entry) { return entry.second <= now; });
        if (remembered_.size() >= limits_.maxRemembered) {
            remembered_.clear();
        }
    }
    remembered_[key] = now + limits_.rememberSeconds;
}

bool PasswordCheck::Verify(const std::string& login, const std::string& password,
                           const std::string& storedHash, std::int64_t now) {
    verifications_.acquire();
    const bool match = VerifyPassword(storedHash, password);
    verifications_.release();
    if (match) {
        Remember(Key(login, password, storedHash), now);
    }
    return match;
}

PasswordCheck::Failures* PasswordCheck::Current(const std::string& block, std::int64_t now) {
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

void PasswordCheck::Forget(std::map<std::string, Failures>::iterator it) {
    (it->second.blocked ? blocked_ : opened_).erase(it->second.age);
    failures_.erase(it);
}

bool PasswordCheck::MakeRoom(std::int64_t now) {
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

void PasswordCheck::CountFailure(Failures& f, const std::string& block) {
    ++f.count;
    if (!f.blocked && Over(f)) {
        opened_.erase(f.age);
        f.age = blocked_.insert(blocked_.end(), block);
        f.blocked = true;
    }
}

bool PasswordCheck::Refused(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    auto it = failures_.find(AddressBlock(address));
    return it != failures_.end() && now - it->second.windowStart < limits_.windowSeconds &&
           Over(it->second);
}

bool PasswordCheck::Reserve(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    Failures* f = Current(AddressBlock(address), now);
    if (f == nullptr || Over(*f)) {
        return false;
    }
    ++f->underWay;
    return true;
}

void PasswordCheck::Settle(const std::string& address, bool failed, std::int64_t now) {
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

int PasswordCheck::FailuresOf(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    auto it = failures_.find(AddressBlock(address));
    return it != failures_.end() && now - it->second.windowStart < limits_.windowSeconds
               ? it->second.count
               : 0;
}

void PasswordCheck::Failed(const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    const std::string block = AddressBlock(address);
    if (Failures* f = Current(block, now)) {
        CountFailure(*f, block);
    }
}

}  // namespace service
