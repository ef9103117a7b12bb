// The update service's parts: the account store, the reply decision, the
// administration commands and the listen address.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <sstream>

#include "service/account_store.h"
#include "service/admin.h"
#include "service/http_request.h"
#include "service/passwords.h"
#include "service/server.h"
#include "service/update_decision.h"
#include "support/service_process.h"
#include "support/temp_dir.h"

using namespace service;
using testsupport::TempDir;

namespace {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitPasswords()); }
    TempDir dir;
    std::string path = dir.File("accounts.db");
    std::string error;
    std::unique_ptr<AccountStore> store = AccountStore::Open(path, error);
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

TEST_F(ServiceTest, DatabaseIsPrivateAndVersioned) {
    ASSERT_NE(store, nullptr) << error;
    struct stat st {};
    stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Add("joe", "pw");
    store.reset();
    store = AccountStore::Open(path, error);
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(store->Find("joe").has_value()) << "accounts survive a reopen";
}

// A database of the first version (before DNS publication) opens with its
// accounts, moves to the current version, and keeps a removed account's name
// for withdrawal only once something was published for it.
TEST_F(ServiceTest, AFirstVersionDatabaseIsMigrated) {
    const std::string old = dir.File("v1.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(old.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL;"
                           "CREATE TABLE accounts (name TEXT PRIMARY KEY NOT NULL,"
                           " password_hash TEXT NOT NULL, banned INTEGER NOT NULL DEFAULT 0,"
                           " last_address TEXT NOT NULL DEFAULT '',"
                           " last_update INTEGER NOT NULL DEFAULT 0);"
                           "INSERT INTO accounts VALUES ('joe', 'hash', 0, '192.0.2.1', 1000);"
                           "INSERT INTO accounts VALUES ('ann', 'hash', 1, '192.0.2.2', 1000);"
                           "PRAGMA user_version=1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    auto migrated = AccountStore::Open(old, error);
    ASSERT_NE(migrated, nullptr) << error;
    const std::optional<Account> joe = migrated->Find("joe");
    ASSERT_TRUE(joe.has_value()) << "the accounts can be read";
    EXPECT_EQ(joe->lastAddress, "192.0.2.1");
    const auto pending = migrated->PendingPublications();
    ASSERT_TRUE(pending.has_value());
    ASSERT_EQ(pending->size(), 1u) << "joe to publish; ann is banned and had nothing published";
    EXPECT_EQ(pending->front().name, "joe");
    EXPECT_EQ(pending->front().address, "192.0.2.1");
    ASSERT_TRUE(migrated->MarkPublished("joe", "192.0.2.1"));
    ASSERT_TRUE(migrated->Remove("joe"));
    ASSERT_TRUE(migrated->Remove("ann"));
    const auto withdrawals = migrated->PendingPublications();
    ASSERT_EQ(withdrawals->size(), 1u);
    EXPECT_EQ(withdrawals->front().name, "joe");
    EXPECT_EQ(withdrawals->front().address, "") << "withdraw";
    migrated.reset();
    ASSERT_EQ(sqlite3_open(old.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), AccountStore::kSchemaVersion);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(ServiceTest, NotADatabaseIsRefusedClearly) {
    testsupport::WriteFile(dir.File("junk.db"), std::string(4096, 'x'));
    EXPECT_EQ(AccountStore::Open(dir.File("junk.db"), error), nullptr);
    EXPECT_NE(error.find("not a usable database"), std::string::npos) << error;
}

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
              kUnknownLogin);
    EXPECT_EQ(
        AnswerUpdate(*store, check, std::string(256, 'a'), std::string(257, 'p'), "1.1.1.1", 1)
            .code,
        kWrongPassword);
    EXPECT_EQ(AnswerUpdate(*store, check, std::string(256, 'a'), "pw", "1.1.1.1", 1).code,
              kUpdated);
}

TEST_F(ServiceTest, UserCommandsManageAccounts) {
    EXPECT_EQ(User({"add", "joe"}, "first"), 0);
    EXPECT_EQ(User({"add", "joe"}), 1);
    EXPECT_NE(err.str().find("already exists"), std::string::npos);
    EXPECT_EQ(User({"passwd", "joe"}, "second"), 0);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "second", "1.1.1.1", 1).code, kUpdated);
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
    EXPECT_EQ(reply.code, kNotStored);
    EXPECT_EQ(reply.body, "");
    EXPECT_EQ(store->Find("joe")->lastAddress, "");
}

TEST_F(ServiceTest, AWideDatabaseAndJournalAreNarrowedWithALogLine) {
    store.reset();
    for (const std::string& file : {path, path + "-wal"}) {
        testsupport::WriteFile(file, "");
        chmod(file.c_str(), 0644);
    }
    std::ostringstream log;
    store = AccountStore::Open(path, error, &log);
    ASSERT_NE(store, nullptr) << error;
    for (const std::string& file : {path, path + "-wal"}) {
        struct stat st {};
        stat(file.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
        EXPECT_NE(log.str().find(file + " was mode 0644, now 0600"), std::string::npos)
            << log.str();
    }
}

// Accounts created and changed without choosing a strength get Argon2id at
// libsodium's Interactive strength (64 MiB, two passes), as the program
// itself stores them.
TEST_F(ServiceTest, StoredHashesAreAtInteractiveStrength) {
    store.reset();
    testsupport::RunServiceCommand(path, "user add joe", "first\n");
    store = AccountStore::Open(path, error);
    const std::string interactive = "$argon2id$v=19$m=65536,t=2,p=1$";
    EXPECT_EQ(store->Find("joe")->passwordHash.rfind(interactive, 0), 0u)
        << store->Find("joe")->passwordHash;
    const std::string added = store->Find("joe")->passwordHash;
    store.reset();
    testsupport::RunServiceCommand(path, "user passwd joe", "second\n");
    store = AccountStore::Open(path, error);
    const std::string changed = store->Find("joe")->passwordHash;
    EXPECT_NE(changed, added);
    EXPECT_EQ(changed.rfind(interactive, 0), 0u) << changed;
}

// Failures count per source address: beyond the limit that address is refused
// (429) before any hashing, while other addresses and the account itself are
// still served.
TEST_F(ServiceTest, AnAddressThatKeepsFailingIsRefusedAndNoOneElseIs) {
    Add("joe", "pw");
    PasswordCheck limited(PasswordCheck::Limits{.maxFailures = 3, .windowSeconds = 60});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "guess", "10.0.0.9", 1000).code,
                  kWrongPassword);
    }
    EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "pw", "10.0.0.9", 1001).code, kTooManyFailures);
    EXPECT_EQ(AnswerUpdate(*store, limited, "nobody", "x", "10.0.0.9", 1001).body, "");
    EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "pw", "10.0.0.7", 1001).code, kUpdated)
        << "the account is not locked out";
    EXPECT_EQ(AnswerUpdate(*store, limited, "joe", "pw", "10.0.0.9", 1060).code, kUpdated)
        << "the address is heard again after the window";
}

// An IPv6 /64 counts as one address, and an address refused for its minute
// stays refused however many other addresses fail meanwhile: the table of
// counts is bounded by dropping the oldest addresses still heard, never the
// refused ones.
TEST(PasswordCheckTest, ARefusedAddressStaysRefusedWhateverOthersDo) {
    PasswordCheck limited(PasswordCheck::Limits{.maxFailures = 3, .maxAddresses = 8});
    for (const char* address : {"2001:db8::1", "2001:db8::2", "2001:db8::ffff:3"}) {
        limited.Failed(address, 1000);
    }
    EXPECT_TRUE(limited.Refused("2001:db8::9", 1000)) << "the same /64";
    EXPECT_FALSE(limited.Refused("2001:db8:0:1::1", 1000)) << "the next /64";
    for (int i = 0; i < 1000; ++i) {
        limited.Failed("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), 1001);
    }
    EXPECT_TRUE(limited.Refused("2001:db8::1", 1059));
    EXPECT_FALSE(limited.Refused("2001:db8::1", 1060)) << "heard again after its minute";
    EXPECT_TRUE(limited.Reserve("10.2.0.1", 1001)) << "new addresses are still counted";
}

// A password proved once is remembered, but never past a change made by the
// user command, even one run as a separate process on the same database.
TEST_F(ServiceTest, ARememberedPasswordIsForgottenWhenItIsChanged) {
    Add("joe", "old");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "old", "10.0.0.1", 1000).code, kUpdated);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "old", "10.0.0.1", 1001).code, kUpdated);
    testsupport::RunServiceCommand(path, "--hash-strength minimum user passwd joe", "new\n");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "old", "10.0.0.1", 1002).code, kWrongPassword);
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "new", "10.0.0.1", 1003).code, kUpdated);
    testsupport::RunServiceCommand(path, "user ban joe");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "new", "10.0.0.1", 1004).code, kBanned);
    testsupport::RunServiceCommand(path, "user remove joe");
    EXPECT_EQ(AnswerUpdate(*store, check, "joe", "new", "10.0.0.1", 1005).code, kUnknownLogin);
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
        EXPECT_EQ(RecordUpdate(*store, check, step.account, "10.0.0.1", 1000).body, c.reply)
            << c.commands.back().first;
        const std::optional<Account> joe = store->Find("joe");
        EXPECT_TRUE(!joe || joe->lastAddress.empty()) << "nothing may be recorded";
    }
}

// What each head amounts to, decided from the head alone and never by
// buffering more than one head's worth; the HTTP/1.1 cases end as the RFCs
// (9110, 9112) say.
TEST(HttpRequestTest, HeadsAreReadOrRefusedByWhatTheyCarry) {
    const std::string longLine = "GET /" + std::string(kMaxHeadBytes, 'a') + " HTTP/1.1\r\n";
    const char withNul[] = "GET / HTTP/1.1\r\nHost: x\r\nX: a\0b\r\n\r\n";
    std::string manyHeaders = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (std::size_t i = 0; i < kMaxHeaderLines; ++i) {
        manyHeaders += "X: y\r\n";
    }
    const struct {
        std::string head;
        HeadResult result;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n", HeadResult::Incomplete},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", HeadResult::Complete},
        {"\r\n\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n", HeadResult::Complete},
        {"GET / HTTP/1.1\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.0\r\n\r\n", HeadResult::Complete},
        {"GET / HTTP/1.1\r\nHost: x\r\nX: a\rb\r\n\r\n", HeadResult::Malformed},
        {std::string(withNul, sizeof withNul - 1), HeadResult::Malformed},
        {"GARBAGE\r\n\r\n", HeadResult::Malformed},
        {"GET x HTTP/1.1\r\nHost: x\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 1x\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", HeadResult::Complete},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 512000000\r\n\r\n", HeadResult::HasBody},
        {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", HeadResult::HasBody},
        {"GET / HTTP/1.2\r\nHost: x\r\n\r\n", HeadResult::Complete},
        {"GET / HTTP/2.0\r\nHost: x\r\n\r\n", HeadResult::UnsupportedVersion},
        {longLine, HeadResult::LineTooLong},
        {manyHeaders + "X: y\r\n\r\n", HeadResult::HeadTooLarge},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a'), HeadResult::HeadTooLarge},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        std::size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(c.head, request, consumed), c.result) << c.head.substr(0, 60);
    }
}

TEST(HttpRequestTest, RequestLineHeadersAndQuery) {
    HttpRequest r;
    std::size_t consumed = 0;
    const std::string two =
        "GET /a%20b?login=j%C3%A9+x&password=p%2B1&login=second HTTP/1.0\r\n"
        "connection: Keep-Alive\r\n\r\nGET / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(ParseRequestHead(two, r, consumed), HeadResult::Complete);
    EXPECT_EQ(two.substr(consumed), "GET / HTTP/1.1\r\n\r\n") << "the next request is left";
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/a b");
    EXPECT_TRUE(r.keepAlive) << "HTTP/1.0 asking to keep the connection";
    EXPECT_EQ(QueryValue(r.query, "login"), "j\xC3\xA9 x") << "the first of two, decoded";
    EXPECT_EQ(QueryValue(r.query, "password"), "p+1");
    EXPECT_EQ(QueryValue(r.query, "absent"), "");
    ASSERT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nHost: x\r\nConnection: close, TE\r\nTE: "
                               "trailers\r\n\r\n",
                               r, consumed),
              HeadResult::Complete);
    EXPECT_FALSE(r.keepAlive) << "close among other connection options";
    ASSERT_EQ(ParseRequestHead("GET / HTTP/1.2\r\nHost: x\r\n\r\n", r, consumed),
              HeadResult::Complete);
    EXPECT_TRUE(r.keepAlive) << "any HTTP/1.x keeps the connection as HTTP/1.1 does";
    ASSERT_EQ(ParseRequestHead("GET HTTP://elsewhere:81/process.php?login=a HTTP/1.1\r\nHost: "
                               "x\r\n\r\n",
                               r, consumed),
              HeadResult::Complete);
    EXPECT_EQ(r.path, "/process.php") << "absolute form";
    EXPECT_EQ(r.query, "login=a");
}

TEST(ListenAddressTest, ParsesHostAndPort) {
    ListenAddress a;
    EXPECT_TRUE(ParseListenAddress("127.0.0.1:8245", a));
    EXPECT_EQ(a.host, "127.0.0.1");
    EXPECT_EQ(a.port, 8245);
    EXPECT_TRUE(ParseListenAddress("[::1]:99", a));
    EXPECT_EQ(a.host, "::1");
    for (const char* bad : {"127.0.0.1", ":80", "host:", "host:0", "host:65536", "host:8x"}) {
        EXPECT_FALSE(ParseListenAddress(bad, a)) << bad;
    }
}

}  // namespace
