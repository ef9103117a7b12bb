#include "service/auth/password_hash.h"

#include <sodium.h>

namespace service {

bool InitPasswordHashing() {
    return sodium_init() >= 0;
}

std::optional<std::string> HashPassword(const std::string& password, HashStrength strength) {
    const bool minimum = strength == HashStrength::Minimum;
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(
            hash, password.data(), password.size(),
            minimum ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
            minimum ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return std::nullopt;
    }
    return std::string(hash);
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace service
