// Which store a --db argument names, and opening it.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "service/store/account_store.h"

namespace service {

// Whether where is a PostgreSQL connection URI ("postgresql://..." or
// "postgres://...") rather than the path of an SQLite file.
bool IsDatabaseUri(const std::string& where);

// Opens the store where names: a PostgreSQL database, or an SQLite file,
// created with mode 0600 (an existing one with a wider mode is narrowed,
// which is told to log when given). Sets up or migrates the schema. Null,
// with error set, on failure; error never holds a password.
std::unique_ptr<AccountStore> OpenAccountStore(const std::string& where, std::string& error,
                                               std::ostream* log = nullptr);

}  // namespace service
