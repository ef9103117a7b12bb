// The TSIG key (RFC 8945) that signs the service's DNS updates, read from a
// key file.
#pragma once

#include <string>

namespace service {

struct TsigKey {
    std::string name;       // as in the key file, without a final dot
    std::string algorithm;  // hmac-sha256 or hmac-sha512
    std::string secret;     // base64
};

// Reads a key file in the syntax `tsig-keygen` prints:
//   key "NAME" { algorithm hmac-sha256; secret "BASE64"; };
// refusing one that others may read. False with error set.
bool ReadTsigKey(const std::string& path, TsigKey& key, std::string& error);

}  // namespace service
