// A fresh SQLite account store in a folder of its own, with the cheapest
// password hashes, and the user commands run against it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "service/app/admin.h"
#include "service/app/update_decision.h"
#include "service/auth/password_hash.h"
#include "service/store/open_store.h"
#include "support/temp_dir.h"

namespace service {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitPasswordHashing()); }
    testsupport::TempDir dir;
    std::string path = dir.File("accounts.db");
    std::string error;
    std::unique_ptr<AccountStore> store = OpenAccountStore(path, error);
    PasswordCheck check;

    void Add(const std::string& name, const std::string& password) {
        ASSERT_TRUE(store->Add(name, *HashPassword(password, HashStrength::Minimum)));
    }
    int User(const std::vector<std::string>& args, const std::string& password = "pw") {
        out.str("");
        err.str("");
        return RunUserCommand(
            args, *store, [password] { return std::optional<std::string>(password); },
            HashStrength::Minimum, out, err);
    }
    std::ostringstream out, err;
};

}  // namespace service
