// The administration commands: user add, passwd, ban, unban, remove, list;
// host add, token, remove, list.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/auth/password_hash.h"
#include "service/store/account_store.h"

namespace service {

// Reads a password (from the terminal without echo, or one line of standard
// input); nothing when there is none.
using PasswordReader = std::function<std::optional<std::string>()>;

// Runs "user SUBCOMMAND [NAME]" (args start after "user"). Returns the exit
// status: 0 done, 1 refused (unknown user, duplicate, bad password), 2 usage.
// A new name may not be one of the zone's own (reserved: those an operator
// added to the usual ones), nor an existing name in another case, since DNS
// names ignore case.
int RunUserCommand(const std::vector<std::string>& args, AccountStore& store,
                   const PasswordReader& readPassword, HashStrength strength, std::ostream& out,
                   std::ostream& err, const std::set<std::string>& reserved = {});

// Runs "host add LOGIN LABEL" (adds a host, a DNS label free among hosts and
// logins in any case, and prints its update token alone on a line), "host
// token LOGIN LABEL" (prints a new token for one of the login's hosts, its
// own included; the one before stops working), "host remove LOGIN LABEL"
// (its records are withdrawn; the login's own host goes with the user only)
// or "host list LOGIN" (args start after "host"). Exit status as
// RunUserCommand's.
int RunHostCommand(const std::vector<std::string>& args, AccountStore& store, std::ostream& out,
                   std::ostream& err, const std::set<std::string>& reserved = {});

// The terminal-aware reader used by the program.
std::optional<std::string> ReadPasswordFromStdin();

}  // namespace service
