// Files that hold secrets (a TSIG key, a database URI with its password):
// read only when they belong to the service's user (or root) and nobody else
// may read them, as ssh treats a private key.
#pragma once

#include <optional>
#include <string>

namespace service {

// The text of the file at path (at most 64 KiB); nothing, with error set in
// words naming it as what ("the key file"), when it cannot be read, is shared
// with others or belongs to another user.
std::optional<std::string> ReadPrivateFile(const std::string& path, const std::string& what,
                                           std::string& error);

}  // namespace service
