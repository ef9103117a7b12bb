// The credentials of HTTP's Basic scheme (RFC 7617), as routers and
// dynamic-DNS daemons send them.
#pragma once

#include <optional>
#include <string>

namespace service {

struct BasicCredentials {
    std::string user;
    std::string password;
};

// The user and password of an Authorization field's value ("Basic" in any
// case, then base64 of user:password); nothing when it is not one.
std::optional<BasicCredentials> ParseBasicAuthorization(const std::string& field);

}  // namespace service
