// The passwords a database URI may carry, so that nothing the service writes
// or shows holds one, whatever libpq's messages echo of a mistyped URI.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

// Where uri holds a password, as (offset, length): after the user name up to
// the last '@' (so a password mistyped with '/' in it counts whole), and the
// value of each password= parameter.
std::vector<std::pair<std::size_t, std::size_t>> PasswordSpans(std::string_view uri);

// The texts that must not be shown: each password as written and decoded,
// and its pieces between URI delimiters, which a parser may show alone.
std::vector<std::string> UriSecrets(std::string_view uri);

// text with every secret in it replaced by "***".
std::string WithoutSecrets(std::string text, const std::vector<std::string>& secrets);

}  // namespace service
