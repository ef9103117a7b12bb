// The user commands, in the process and as separate programs on one file.
#include <sqlite3.h>

#include "service/service_fixture.h"
#include "support/service_process.h"
#include "support/temp_dir.h"

using namespace service;
using testsupport::TempDir;

namespace {

TEST_F(ServiceTest, UserCommandsManageAccounts) {
    EXPECT_EQ(User({"add", "joe"}, "first"), 0);
    EXPECT_EQ(User({"add", "joe"}), 1);
    EXPECT_NE(err.str().find("already exists"), std::string::npos);
    EXPECT_EQ(User({"passwd", "joe"}, "second"), 0);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "second", "1.1.1.1", 1).code, ReplyCode::Updated);
    EXPECT_EQ(User({"ban", "joe"}), 0);
    EXPECT_TRUE(store->Find("joe")->banned);
    EXPECT_EQ(User({"unban", "joe"}), 0);
    EXPECT_FALSE(store->Find("joe")->banned);
    EXPECT_EQ(User({"list"}), 0);
    EXPECT_NE(out.str().find("joe"), std::string::npos);
    EXPECT_NE(out.str().find("1.1.1.1"), std::string::npos);
    EXPECT_NE(out.str().find("1970-01-01 00:00:01 UTC"), std::string::npos);
    EXPECT_EQ(User({"remove", "joe"}), 0);
    EXPECT_FALSE(store->Find("joe").has_value());
}

TEST_F(ServiceTest, UserCommandsRefuseUnknownUsersAndBadArguments) {
    for (const char* command : {"passwd", "ban", "unban", "remove"}) {
        EXPECT_EQ(User({command, "ghost"}), 1) << command;
        EXPECT_NE(err.str().find("no user named \"ghost\""), std::string::npos);
    }
    EXPECT_EQ(User({"add"}), 2);
    EXPECT_EQ(User({"frobnicate", "joe"}), 2);
    EXPECT_EQ(User({"add", "bad\nname"}), 2);
    EXPECT_EQ(User({"add", "joe"}, ""), 1) << "an empty password is refused";
    EXPECT_FALSE(store->Find("joe").has_value());
}

// Accounts created and changed without choosing a strength get Argon2id at
// libsodium's Interactive strength (64 MiB, two passes), as the program
// itself stores them.
TEST_F(ServiceTest, StoredHashesAreAtInteractiveStrength) {
    store.reset();
    testsupport::RunServiceCommand(path, "user add joe", "first\n");
    store = OpenAccountStore(path, error);
    const std::string interactive = "$argon2id$v=19$m=65536,t=2,p=1$";
    EXPECT_EQ(store->Find("joe")->passwordHash.rfind(interactive, 0), 0u)
        << store->Find("joe")->passwordHash;
    const std::string added = store->Find("joe")->passwordHash;
    store.reset();
    testsupport::RunServiceCommand(path, "user passwd joe", "second\n");
    store = OpenAccountStore(path, error);
    const std::string changed = store->Find("joe")->passwordHash;
    EXPECT_NE(changed, added);
    EXPECT_EQ(changed.rfind(interactive, 0), 0u) << changed;
}

// While another process holds the database, commands that only read still
// work, and one that would change it says the database is busy (status 1),
// never that there is no such user.
TEST_F(ServiceTest, ALockedDatabaseIsToldAsBusy) {
    Add("joe", "pw");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const testsupport::CommandResult list = testsupport::RunServiceCommand(path, "user list");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("joe"), std::string::npos) << list.output;
    const testsupport::CommandResult ban = testsupport::RunServiceCommand(path, "user ban joe");
    EXPECT_EQ(ban.status, 1);
    EXPECT_NE(ban.output.find("database is busy, try again"), std::string::npos) << ban.output;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_FALSE(store->Find("joe")->banned);
}

}  // namespace
