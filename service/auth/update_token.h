// Update tokens: random secrets that a router or daemon updates its host
// with instead of the account's password. Only a keyed hash of each is
// stored (the key is the database's own), and a token is checked in constant
// time at the cost of one fast hash, never a password verification.
#pragma once

#include <string>

namespace service {

// 32 URL-safe characters (base64url of 192 random bits).
std::string NewUpdateToken();

// What the store keeps of token: its keyed BLAKE2b-256 digest, in hex, under
// keyHex (the store's token key: 64 hex digits); empty when the key is not one.
std::string TokenDigest(const std::string& token, const std::string& keyHex);

// Whether token is the one digestHex was made from under keyHex.
bool TokenMatches(const std::string& token, const std::string& digestHex,
                  const std::string& keyHex);

// The hex BLAKE2b digest of a random secret of its own strength (a session
// id), which needs no key: it cannot be guessed back from the digest.
std::string SecretDigest(const std::string& secret);

}  // namespace service
