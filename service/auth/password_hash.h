// Password hashes: Argon2id through libsodium's string format, which carries
// its own parameters, so hashes of either strength verify the same way.
#pragma once

#include <optional>
#include <string>

namespace service {

enum class HashStrength {
    Interactive,  // the default for real accounts
    Minimum,      // libsodium's floor: for test accounts under load only
};

// Starts libsodium; false when it cannot.
bool InitPasswordHashing();
std::optional<std::string> HashPassword(const std::string& password, HashStrength strength);
bool VerifyPassword(const std::string& hash, const std::string& password);

}  // namespace service
