#include "service/auth/proven_passwords.h"

#include <sodium.h>

#include <cstring>

#include "service/auth/password_hash.h"
#include "service/work/work_pool.h"

namespace service {

ProvenPasswords::ProvenPasswords(Limits limits)
    : limits_(limits), verifications_(ProcessorCount()) {
    randombytes_buf(secret_.data(), secret_.size());
}

std::size_t ProvenPasswords::DigestHash::operator()(const Digest& d) const {
    std::size_t h = 0;
    std::memcpy(&h, d.data(), sizeof h);  // the digest is already uniform
    return h;
}

ProvenPasswords::Digest ProvenPasswords::Key(const std::string& login, const std::string& password,
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

bool ProvenPasswords::Recalls(const std::string& login, const std::string& password,
                              const std::string& storedHash, std::int64_t now) {
    const Digest key = Key(login, password, storedHash);
    std::lock_guard lock(mutex_);
    auto it = remembered_.find(key);
    return it != remembered_.end() && it->second > now;
}

// The memory is bounded: expired entries go first, and when every entry is
// still fresh the oldest knowledge is simply forgotten.
void ProvenPasswords::Remember(const Digest& key, std::int64_t now) {
    std::lock_guard lock(mutex_);
    if (remembered_.size() >= limits_.maxRemembered) {
        std::erase_if(remembered_, [now](const auto& entry) { return entry.second <= now; });
        if (remembered_.size() >= limits_.maxRemembered) {
            remembered_.clear();
        }
    }
    remembered_[key] = now + limits_.rememberSeconds;
}

bool ProvenPasswords::Verify(const std::string& login, const std::string& password,
                             const std::string& storedHash, std::int64_t now) {
    verifications_.acquire();
    const bool match = VerifyPassword(storedHash, password);
    verifications_.release();
    if (match) {
        Remember(Key(login, password, storedHash), now);
    }
    return match;
}

}  // namespace service
