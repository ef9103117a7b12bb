// The reply to an update: what the account, the password, the limits and
// the database make of it.
#include <sqlite3.h>

#include "service/service_fixture.h"
#include "support/service_process.h"
#include "support/temp_dir.h"

using namespace service;
using testsupport::TempDir;

namespace {

TEST_F(ServiceTest, RepliesFollowTheAccount) {
    Add("joe", "right");
    Add("ann", "pw");
    store->SetBanned("ann", true);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "right", "10.1.2.3", 1000).body, "10010.1.2.3");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "wrong", "10.1.2.3", 1000).body, "102");
    EXPECT_EQ(AnswerUpdate(*store, check, "nobody", "right", "10.1.2.3", 1000).body, "101");
    EXPECT_EQ(AnswerUpdate(*store, check, "", "right", "10.1.2.3", 1000).body, "101");
    EXPECT_EQ(AnswerUpdate(*store, check, "ann", "pw", "10.1.2.3", 1000).body, "103");
    EXPECT_EQ(AnswerUpdate(*store, check, "ann", "bad", "10.1.2.3", 1000).body, "102")
        << "a wrong password learns nothing of the ban";
    auto joe = store->Find("joe");
    EXPECT_EQ(joe->lastAddress, "10.1.2.3");
    EXPECT_EQ(joe->lastUpdate, 1000);
    EXPECT_EQ(store->Find("ann")->lastAddress, "") << "a refused update records nothing";
}

TEST_F(ServiceTest, OverlongParametersAreRefused) {
    Add(std::string(256, 'a'), "pw");
    EXPECT_EQ(AnswerUpdate(*store, check, std::string(257, 'a'), "pw", "1.1.1.1", 1).code,
              ReplyCode::UnknownLogin);
    EXPECT_EQ(
        AnswerUpdate(*store, check, std::string(256, 'a'), std::string(257, 'p'), "1.1.1.1", 1)
            .code,
        ReplyCode::WrongPassword);
    EXPECT_EQ(AnswerUpdate(*store, check, std::string(256, 'a'), "pw", "1.1.1.1", 1).code,
              ReplyCode::Updated);
}

// A database that refuses the write (as a full disk or a lock held past the
// busy time-out would): the update is answered 503, never 100.
TEST_F(ServiceTest, AnUpdateThatCannotBeStoredIsNeverAcknowledged) {
    Add("joe", "pw");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "CREATE TRIGGER full BEFORE UPDATE ON accounts "
                           "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    const UpdateReply reply = AnswerUpdate(*store, check, "joe", "pw", "10.1.2.3", 1000);
    EXPECT_EQ(reply.httpStatus, kNotStored);
    EXPECT_FALSE(reply.code);
    EXPECT_EQ(reply.body, "");
    EXPECT_EQ(store->Find("joe")->lastAddress, "");
}

// Failures count per source address: beyond the limit that address is refused
// (429) before any hashing, while other addresses and the account itself are
// still served.
TEST_F(ServiceTest, AnAddressThatKeepsFailingIsRefusedAndNoOneElseIs) {
    Add("joe", "pw");
    PasswordCheck limited(PasswordCheck::Limits{.maxFailures = 3, .windowSeconds = 60});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "guess", "10.0.0.9", 1000).code,
                  ReplyCode::WrongPassword);
    }
    EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "pw", "10.0.0.9", 1001).httpStatus,
              kTooManyFailures);
    EXPECT_EQ(AnswerUpdate(*store, limited, "nobody", "x", "10.0.0.9", 1001).body, "");
    EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "pw", "10.0.0.7", 1001).code, ReplyCode::Updated)
        << "the account is not locked out";
    EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "pw", "10.0.0.9", 1060).code, ReplyCode::Updated)
        << "the address is heard again after the window";
}

// A password proved once is remembered, but never past a change made by the
// user command, even one run as a separate process on the same database.
TEST_F(ServiceTest, ARememberedPasswordIsForgottenWhenItIsChanged) {
    Add("joe", "old");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "old", "10.0.0.1", 1000).code, ReplyCode::Updated);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "old", "10.0.0.1", 1001).code, ReplyCode::Updated);
    testsupport::RunServiceCommand(path, "--hash-strength minimum user passwd joe", "new\n");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "old", "10.0.0.1", 1002).code,
              ReplyCode::WrongPassword);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "new", "10.0.0.1", 1003).code, ReplyCode::Updated);
    testsupport::RunServiceCommand(path, "user ban joe");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "new", "10.0.0.1", 1004).code, ReplyCode::Banned);
    testsupport::RunServiceCommand(path, "user remove joe");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "new", "10.0.0.1", 1005).code,
              ReplyCode::UnknownLogin);
}

// A verification that was waiting when a user command changed the account
// is judged against the account as it now stands, and records nothing: a new
// password (also after remove and add again) makes the old one wrong, a ban
// is told, a removed account is unknown.
TEST_F(ServiceTest, AUserCommandRunWhileAVerificationWaitsIsNeverOverruled) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> commands;  // with their input
        std::string reply;
    };
    const std::string add = "--hash-strength minimum user add joe";
    const Case cases[] = {
        {{{"--hash-strength minimum user passwd joe", "new\n"}}, "102"},
        {{{"user ban joe", ""}}, "103"},
        {{{"user remove joe", ""}}, "101"},
        {{{"user remove joe", ""}, {add, "old\n"}}, "102"},
    };
    for (const Case& c : cases) {
        store->Remove("joe");
        Add("joe", "old");
        UpdateStep step = BeginUpdate(*store, check, "joe", "old", "10.0.0.1", 1000);
        ASSERT_FALSE(step.reply) << "the password must still need its verification";
        for (const auto& [command, input] : c.commands) {
            ASSERT_EQ(testsupport::RunServiceCommand(path, command, input).status, 0) << command;
        }
        EXPECT_FALSE(VerifyUpdate(check, step.account, "old", "10.0.0.1", 1000));
        EXPECT_EQ(RecordProvedUpdate(*store, check, step.account, "10.0.0.1",
                                     {{"", AddressUpdate::Of("10.0.0.1")}}, 1000)
                      .body,
                  c.reply)
            << c.commands.back().first;
        const std::optional<Account> joe = store->Find("joe");
        EXPECT_TRUE(!joe || joe->lastAddress.empty()) << "nothing may be recorded";
    }
}

}  // namespace
