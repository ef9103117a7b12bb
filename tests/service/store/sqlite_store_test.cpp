// The SQLite account store: a private, versioned file that migrates and says
// clearly when it is not a database.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <sstream>

#include "service/store/open_store.h"
#include "support/temp_dir.h"

using namespace service;
using testsupport::TempDir;

namespace {

class SqliteStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("accounts.db");
    std::string error;
    std::unique_ptr<AccountStore> store = OpenAccountStore(path, error);
};

TEST_F(SqliteStoreTest, DatabaseIsPrivateAndVersioned) {
    ASSERT_NE(store, nullptr) << error;
    struct stat st {};
    stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(store->Add("joe", "hash"));
    store.reset();
    store = OpenAccountStore(path, error);
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(store->Find("joe").has_value()) << "accounts survive a reopen";
    EXPECT_FALSE(store->Add("JOE", "hash")) << "one account per DNS name, whatever the case";
    EXPECT_FALSE(store->Add("joe", "hash"));
    EXPECT_TRUE(store->Add("joe2", "hash"));
}

// Each family's address is recorded on its own and both are to be published,
// IPv4 first; an update with neither clears both.
TEST_F(SqliteStoreTest, EachFamilyIsKeptOnItsOwn) {
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->Add("joe", "hash"));
    const auto record = [&](const AddressUpdate& update) {
        return store->RecordUpdate("joe", "hash", {"", update}, "198.51.100.7", 5);
    };
    ASSERT_EQ(record(AddressUpdate::Of("2001:db8::1")), AccountStore::Recording::Recorded);
    ASSERT_EQ(record(AddressUpdate::Of("192.0.2.1")), AccountStore::Recording::Recorded);
    EXPECT_EQ(store->Find("joe")->Addresses(), "192.0.2.1,2001:db8::1");
    EXPECT_EQ(store->PendingPublications()->front().address, "192.0.2.1,2001:db8::1");
    ASSERT_TRUE(store->MarkPublished("joe", "192.0.2.1,2001:db8::1"));
    EXPECT_TRUE(store->PendingPublications()->empty());
    ASSERT_EQ(record(AddressUpdate::None()), AccountStore::Recording::Recorded);
    EXPECT_EQ(store->Find("joe")->Addresses(), "");
    EXPECT_EQ(store->PendingPublications()->front().address, "") << "withdraw";
    EXPECT_EQ(store->RecordUpdate("joe", "other hash", {"", AddressUpdate::Of("192.0.2.9")}, "", 6),
              AccountStore::Recording::AccountChanged);
}

// A session ends after 30 minutes unused or 12 hours after it began, when
// its account is banned or removed, and when it or all of its account's
// others are removed.
TEST_F(SqliteStoreTest, SessionsEndWhenIdleOldOrTheirAccountIsGone) {
    ASSERT_NE(store, nullptr) << error;
    ASSERT_TRUE(store->Add("joe", "hash"));
    const auto found = [&](const std::string& id, std::int64_t at) {
        WebSession session;
        return store->FindSession(id, at, session) == AccountStore::Presence::Found &&
               session.login == "joe" && session.formToken == "form-" + id;
    };
    const auto add = [&](const std::string& id, std::int64_t at) {
        ASSERT_TRUE(store->AddSession(id, {"joe", "form-" + id, at}, at));
    };
    add("idle", 0);
    EXPECT_TRUE(found("idle", 1800));
    EXPECT_FALSE(found("idle", 3601)) << "unused for 30 minutes and a second";
    add("busy", 0);
    for (std::int64_t at = 1700; at < 12 * 3600; at += 1700) {
        ASSERT_TRUE(found("busy", at)) << at;
    }
    EXPECT_FALSE(found("busy", 12 * 3600 + 1)) << "12 hours after sign-in, however used";
    add("a", 50000);
    add("b", 50000);
    add("c", 50000);
    ASSERT_TRUE(store->RemoveSessions("joe", "b"));
    EXPECT_FALSE(found("a", 50001));
    EXPECT_TRUE(found("b", 50001)) << "the session that changed the password stays";
    ASSERT_TRUE(store->SetBanned("joe", true));
    EXPECT_FALSE(found("b", 50002));
    ASSERT_TRUE(store->SetBanned("joe", false));
    ASSERT_TRUE(store->RemoveSession("b"));
    EXPECT_FALSE(found("b", 50003));
}

// A database of the first version (before DNS publication) opens with its
// accounts, moves to the current version, and keeps a removed account's name
// for withdrawal only once something was published for it.
TEST_F(SqliteStoreTest, AFirstVersionDatabaseIsMigrated) {
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
                           "INSERT INTO accounts VALUES ('bob', 'hash', 0, '2001:db8::9', 9);"
                           "PRAGMA user_version=1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    auto migrated = OpenAccountStore(old, error);
    ASSERT_NE(migrated, nullptr) << error;
    const std::optional<Account> joe = migrated->Find("joe");
    ASSERT_TRUE(joe.has_value()) << "the accounts can be read";
    EXPECT_EQ(joe->lastAddress, "192.0.2.1");
    EXPECT_EQ(joe->lastAddress6, "");
    EXPECT_EQ(joe->v4At, 1000) << "an address recorded before was set at the last update";
    EXPECT_EQ(joe->v6At, 0);
    EXPECT_EQ(joe->tokenKey.size(), 64u) << "the database draws its token key";
    const std::optional<Account> bob = migrated->Find("bob");
    ASSERT_TRUE(bob.has_value());
    EXPECT_EQ(bob->lastAddress, "") << "an IPv6 address moves to its own column";
    EXPECT_EQ(bob->lastAddress6, "2001:db8::9");
    ASSERT_TRUE(migrated->MarkPublished("bob", "2001:db8::9"));
    ASSERT_TRUE(migrated->Remove("bob"));
    ASSERT_TRUE(migrated->MarkPublished("bob", ""));
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

// A version-2 database, as the service made it before names were compared
// regardless of case, holding "alice" and, added later, "Alice", which
// overwrote alice's record: both are kept and listed, the name goes back to
// alice (sent again), and Alice is never published nor withdrawn.
TEST_F(SqliteStoreTest, TwinsOfAnOlderDatabaseLeaveTheNameToTheOlder) {
    const std::string old = dir.File("v2.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(old.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL;"
                     "CREATE TABLE accounts (name TEXT PRIMARY KEY NOT NULL,"
                     " password_hash TEXT NOT NULL, banned INTEGER NOT NULL DEFAULT 0,"
                     " last_address TEXT NOT NULL DEFAULT '',"
                     " last_update INTEGER NOT NULL DEFAULT 0,"
                     " published_address TEXT NOT NULL DEFAULT '');"
                     "CREATE TABLE withdrawals (name TEXT PRIMARY KEY NOT NULL);"
                     "CREATE TRIGGER account_removed AFTER DELETE ON accounts"
                     " WHEN OLD.published_address != ''"
                     " BEGIN INSERT OR IGNORE INTO withdrawals(name) VALUES (OLD.name); END;"
                     "INSERT INTO accounts VALUES ('alice', 'h', 0, '192.0.2.1', 1, '192.0.2.1');"
                     "INSERT INTO accounts VALUES ('Alice', 'h', 0, '192.0.2.2', 2, '192.0.2.2');"
                     "PRAGMA user_version=2;",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    auto migrated = OpenAccountStore(old, error);
    ASSERT_NE(migrated, nullptr) << error;
    const std::vector<Account> all = migrated->List();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(migrated->Find("Alice")->olderTwin, "alice");
    EXPECT_EQ(migrated->Find("alice")->olderTwin, "");
    const auto pending = migrated->PendingPublications();
    ASSERT_TRUE(pending.has_value());
    ASSERT_EQ(pending->size(), 1u);
    EXPECT_EQ(pending->front().name, "alice");
    EXPECT_EQ(pending->front().address, "192.0.2.1") << "sent again over what Alice put there";
    ASSERT_TRUE(migrated->MarkPublished("alice", "192.0.2.1"));
    ASSERT_TRUE(migrated->Remove("Alice"));
    EXPECT_TRUE(migrated->PendingPublications()->empty()) << "removing Alice withdraws nothing";
    ASSERT_TRUE(migrated->Remove("alice"));
    ASSERT_EQ(migrated->PendingPublications()->size(), 1u) << "removing alice withdraws the name";
}

// Neither a file that is no database nor one of a newer service is used; the
// newer one is left as it was.
TEST_F(SqliteStoreTest, NotADatabaseIsRefusedClearly) {
    testsupport::WriteFile(dir.File("junk.db"), std::string(4096, 'x'));
    EXPECT_EQ(OpenAccountStore(dir.File("junk.db"), error), nullptr);
    EXPECT_NE(error.find("not a usable database"), std::string::npos) << error;
    store.reset();
    const auto userVersion = [&](const char* set) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, set, nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
        const int version = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
        sqlite3_finalize(st);
        sqlite3_close(db);
        return version;
    };
    ASSERT_EQ(userVersion("PRAGMA user_version=99"), 99);
    EXPECT_EQ(OpenAccountStore(path, error), nullptr);
    EXPECT_NE(error.find("its schema (version 99) is newer than this service's"), std::string::npos)
        << error;
    EXPECT_EQ(userVersion(""), 99);
}

TEST_F(SqliteStoreTest, AWideDatabaseAndJournalAreNarrowedWithALogLine) {
    store.reset();
    for (const std::string& file : {path, path + "-wal"}) {
        testsupport::WriteFile(file, "");
        chmod(file.c_str(), 0644);
    }
    std::ostringstream log;
    store = OpenAccountStore(path, error, &log);
    ASSERT_NE(store, nullptr) << error;
    for (const std::string& file : {path, path + "-wal"}) {
        struct stat st {};
        stat(file.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
        EXPECT_NE(log.str().find(file + " was mode 0644, now 0600"), std::string::npos)
            << log.str();
    }
}

}  // namespace
