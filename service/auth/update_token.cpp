#include "service/auth/update_token.h"

#include <sodium.h>

#include <array>

namespace service {

namespace {

using Digest = std::array<unsigned char, crypto_generichash_BYTES>;

bool Digested(const std::string& token, const std::string& keyHex, Digest& out) {
    std::array<unsigned char, crypto_generichash_KEYBYTES> key{};
    std::size_t keyBytes = 0;
    if (sodium_hex2bin(key.data(), key.size(), keyHex.data(), keyHex.size(), nullptr, &keyBytes,
                       nullptr) != 0 ||
        keyBytes != key.size()) {
        return false;
    }
    crypto_generichash(out.data(), out.size(), reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), key.data(), key.size());
    return true;
}

std::string Hex(const Digest& digest) {
    std::string hex(digest.size() * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    hex.pop_back();
    return hex;
}

}  // namespace

std::string NewUpdateToken() {
    std::array<unsigned char, 24> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    constexpr int kVariant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), kVariant), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), kVariant);
    text.resize(text.find('\0'));
    return text;
}

std::string TokenDigest(const std::string& token, const std::string& keyHex) {
    Digest digest{};
    return Digested(token, keyHex, digest) ? Hex(digest) : "";
}

std::string SecretDigest(const std::string& secret) {
    Digest digest{};
    crypto_generichash(digest.data(), digest.size(),
                       reinterpret_cast<const unsigned char*>(secret.data()), secret.size(),
                       nullptr, 0);
    return Hex(digest);
}

bool TokenMatches(const std::string& token, const std::string& digestHex,
                  const std::string& keyHex) {
    Digest stored{};
    Digest given{};
    std::size_t storedBytes = 0;
    return sodium_hex2bin(stored.data(), stored.size(), digestHex.data(), digestHex.size(), nullptr,
                          &storedBytes, nullptr) == 0 &&
           storedBytes == stored.size() && Digested(token, keyHex, given) &&
           sodium_memcmp(stored.data(), given.data(), stored.size()) == 0;
}

}  // namespace service
