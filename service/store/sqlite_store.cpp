#include "service/store/sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>

#include "service/common/log_line.h"
#include "service/store/shared_sql.h"

namespace service {

namespace {

constexpr int kBusyTimeoutMs = 5000;

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " name TEXT PRIMARY KEY NOT NULL,"
    " password_hash TEXT NOT NULL,"
    " banned INTEGER NOT NULL DEFAULT 0,"
    " last_address TEXT NOT NULL DEFAULT '',"
    " last_update INTEGER NOT NULL DEFAULT 0)";

// Version 2: the address last confirmed published in DNS for each account,
// and the names of removed accounts whose records are still to be withdrawn
// (kept by a trigger, so that removal by any program leaves a note).
const char* kVersion2[] = {
    "ALTER TABLE accounts ADD COLUMN published_address TEXT NOT NULL DEFAULT ''",
    "CREATE TABLE withdrawals (name TEXT PRIMARY KEY NOT NULL)",
    "CREATE TRIGGER account_removed AFTER DELETE ON accounts"
    " WHEN OLD.published_address != ''"
    " BEGIN INSERT OR IGNORE INTO withdrawals(name) VALUES (OLD.name); END",
};

// Version 3: a name is noted as possibly published before its update is sent
// (the answer may be lost after the server applied it), and its removal then
// leaves a withdrawal too.
const char* kVersion3[] = {
    "ALTER TABLE accounts ADD COLUMN maybe_published INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE accounts ADD COLUMN created INTEGER NOT NULL DEFAULT 0",
    "UPDATE accounts SET created = rowid",
    "DROP TRIGGER account_removed",
    "CREATE TRIGGER account_removed AFTER DELETE ON accounts"
    " WHEN OLD.published_address != '' OR OLD.maybe_published != 0"
    " BEGIN INSERT OR IGNORE INTO withdrawals(name) VALUES (OLD.name); END",
};

// Version 4: the names the zone held when publication last started, and an
// index of the names in lower case.
const char* kVersion4[] = {
    "CREATE TABLE zone_names (name TEXT PRIMARY KEY NOT NULL,"
    " addresses TEXT NOT NULL, own INTEGER NOT NULL)",
    sql::kLowerNameIndex,
};

// Version 6: hosts; removing one that may have records leaves a withdrawal,
// and removing an account removes its hosts.
const char* kVersion6Triggers[] = {
    "CREATE TRIGGER host_removed AFTER DELETE ON hosts"
    " WHEN OLD.published_address != '' OR OLD.maybe_published != 0"
    " BEGIN INSERT OR IGNORE INTO withdrawals(name) VALUES (OLD.label); END",
    "CREATE TRIGGER account_hosts_removed AFTER DELETE ON accounts"
    " BEGIN DELETE FROM hosts WHERE account = OLD.name; END",
};

std::string Text(sqlite3_stmt* st, int column) {
    const unsigned char* text = sqlite3_column_text(st, column);
    return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
}

// The address columns, from column first on.
void ReadAddresses(sqlite3_stmt* st, int first, HostAddresses& h) {
    h.lastAddress = Text(st, first);
    h.lastAddress6 = Text(st, first + 1);
    h.v4At = sqlite3_column_int64(st, first + 2);
    h.v4From = Text(st, first + 3);
    h.v6At = sqlite3_column_int64(st, first + 4);
    h.v6From = Text(st, first + 5);
    h.publishedAddress = Text(st, first + 6);
    h.publishFailure = Text(st, first + 7);
}

// The columns of sql::kAccountColumns.
Account AccountRow(sqlite3_stmt* st) {
    Account a;
    a.name = Text(st, 0);
    a.passwordHash = Text(st, 1);
    a.banned = sqlite3_column_int(st, 2) != 0;
    a.lastUpdate = sqlite3_column_int64(st, 3);
    a.olderTwin = Text(st, 4);
    a.zonesOwn = sqlite3_column_int(st, 5) != 0;
    a.tokenHash = Text(st, 6);
    a.tokenKey = Text(st, 7);
    ReadAddresses(st, sql::kAccountAddressColumn, a);
    return a;
}

// The columns of sql::kSqliteHosts.
Host HostRow(sqlite3_stmt* st) {
    Host h;
    h.label = Text(st, 0);
    h.tokenHash = Text(st, 1);
    ReadAddresses(st, sql::kHostAddressColumn, h);
    return h;
}

// Keeps a file readable by its owner only: it holds the password hashes.
// Tells the log when an existing file had a wider mode.
void NarrowMode(int fd, const std::string& path, std::ostream* log) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && (st.st_mode & 077) != 0 && fchmod(fd, 0600) == 0 && log) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        *log << ServiceLine(path + " was mode " + mode + ", now 0600") << std::flush;
    }
}

// Creates the database readable by its owner only before SQLite opens it, and
// narrows the database and its journal files when they exist wider.
bool CreatePrivateFiles(const std::string& path, std::ostream* log) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    NarrowMode(fd, path, log);
    close(fd);
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string journal = path + suffix;
        int jfd = open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (jfd >= 0) {
            NarrowMode(jfd, journal, log);
            close(jfd);
        }
    }
    return true;
}

}  // namespace

sqlite3* SqliteStore::Connect(const std::string& path, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return db;
}

std::unique_ptr<AccountStore> SqliteStore::Open(const std::string& path, std::string& error,
                                                std::ostream* log) {
    if (!CreatePrivateFiles(path, log)) {
        error = "cannot create " + path;
        return nullptr;
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore());
    if ((store->writer_.db = Connect(path, error)) == nullptr) {
        return nullptr;
    }
    if (!store->Prepare()) {
        error = store->LastTrouble() == Trouble::Busy
                    ? "database is busy, try again"
                    : path + " is not a usable database: " + store->LastError();
        return nullptr;
    }
    if ((store->reader_.db = Connect(path, error)) == nullptr) {
        return nullptr;
    }
    return store;
}

bool SqliteStore::Prepare() {
    sqlite3_stmt* st = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(writer_.db, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
        version = sqlite3_column_int(st, 0);
    }
    const int rc = sqlite3_finalize(st);
    if (version < 0) {
        writer_.Note(rc == SQLITE_OK ? SQLITE_ERROR : rc);
        return false;
    }
    if (version == kSchemaVersion) {
        return true;
    }
    // A newer service's database is not ours to change.
    if (version > kSchemaVersion) {
        writer_.trouble = Trouble::Failed;
        writer_.troubleText =
            "its schema (version " + std::to_string(version) + ") is newer than this service's";
        return false;
    }
    if (Execute("PRAGMA journal_mode=WAL", {}) < 0 || Execute("BEGIN IMMEDIATE", {}) < 0) {
        return false;
    }
    bool done = Execute(kSchema, {}) >= 0;
    if (version < 2) {
        for (const char* step : kVersion2) {
            done = done && Execute(step, {}) >= 0;
        }
    }
    if (version < 3) {
        for (const char* step : kVersion3) {
            done = done && Execute(step, {}) >= 0;
        }
        for (const char* step : sql::kTwinsToTheOldest) {
            done = done && Execute(step, {}) >= 0;
        }
    }
    if (version < 4) {
        for (const char* step : kVersion4) {
            done = done && Execute(step, {}) >= 0;
        }
    }
    if (version < 5) {
        for (const char* step : sql::kAddressFamiliesAndTokens) {
            done = done && Execute(step, {}) >= 0;
        }
        done =
            done && Execute("INSERT INTO token_key VALUES (lower(hex(randomblob(32))))", {}) >= 0;
    }
    if (version < 6) {
        for (const char* step : sql::kHostsAndOrigins) {
            done = done && Execute(step, {}) >= 0;
        }
        for (const char* step : kVersion6Triggers) {
            done = done && Execute(step, {}) >= 0;
        }
        done = done && Execute(sql::kSessions, {}) >= 0;
    }
    done = done && Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion), {}) >= 0;
    std::lock_guard lock(writer_.mutex);
    return FinishHeld(done);
}

bool SqliteStore::FinishHeld(bool done) {
    if (done && ExecuteHeld(writer_, "COMMIT", {}) >= 0) {
        return true;
    }
    const Trouble trouble = writer_.trouble;  // the failed step's, not the rollback's
    const std::string text = writer_.troubleText;
    ExecuteHeld(writer_, "ROLLBACK", {});
    writer_.trouble = trouble == Trouble::None ? Trouble::Failed : trouble;
    writer_.troubleText = text;
    return false;
}

void SqliteStore::Link::Note(int rc) {
    const bool fine = rc == SQLITE_OK || rc == SQLITE_DONE;
    trouble = fine ? Trouble::None : (rc & 0xFF) == SQLITE_BUSY ? Trouble::Busy : Trouble::Failed;
    troubleText = fine ? std::string() : sqlite3_errmsg(db);
}

SqliteStore::Trouble SqliteStore::LastTrouble() {
    std::lock_guard lock(writer_.mutex);
    return writer_.trouble;
}

// A failed lookup or publication read is told when no write failed.
std::string SqliteStore::LastError() {
    {
        std::lock_guard lock(writer_.mutex);
        if (!writer_.troubleText.empty()) {
            return writer_.troubleText;
        }
    }
    std::lock_guard lock(reader_.mutex);
    return reader_.troubleText;
}

SqliteStore::Link::~Link() {
    for (auto& [sql, st] : statements) {
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
}

// Statements are prepared once and kept: the update path runs the same two
// for every request.
sqlite3_stmt* SqliteStore::Link::Prepared(const std::string& sql) {
    sqlite3_stmt*& st = statements[sql];
    if (st == nullptr && sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st,
                                            nullptr) != SQLITE_OK) {
        statements.erase(sql);
        return nullptr;
    }
    return st;
}

int SqliteStore::Execute(const std::string& sql, const std::vector<std::string>& params,
                         const RowReader& onRow) {
    return Execute(writer_, sql, params, onRow);
}

int SqliteStore::Execute(Link& link, const std::string& sql, const std::vector<std::string>& params,
                         const RowReader& onRow) {
    std::lock_guard lock(link.mutex);
    return ExecuteHeld(link, sql, params, onRow);
}

int SqliteStore::ExecuteHeld(Link& link, const std::string& sql,
                             const std::vector<std::string>& params, const RowReader& onRow) {
    sqlite3_stmt* st = link.Prepared(sql);
    if (st == nullptr) {
        link.Note(sqlite3_errcode(link.db));
        return -1;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        sqlite3_bind_text(st, static_cast<int>(i + 1), params[i].c_str(),
                          static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (onRow) {
            onRow(st);
        }
    }
    link.Note(rc);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return rc == SQLITE_DONE ? sqlite3_changes(link.db) : -1;
}

SqliteStore::Presence SqliteStore::Look(const std::string& name, Account& out) {
    std::vector<Account> rows;
    const bool read =
        Execute(reader_, std::string(sql::kAccountColumns) + " WHERE name = ?1", {name},
                [&rows](sqlite3_stmt* st) { rows.push_back(AccountRow(st)); }) >= 0;
    return PresenceOf(read, rows, out);
}

std::vector<Account> SqliteStore::List() {
    std::vector<Account> rows;
    Execute(std::string(sql::kAccountColumns) + " ORDER BY name", {},
            [&rows](sqlite3_stmt* st) { rows.push_back(AccountRow(st)); });
    return rows;
}

bool SqliteStore::AddSession(const std::string& idHash, const WebSession& session,
                             std::int64_t now) {
    const std::string when = std::to_string(now);
    return Execute(sql::kSqliteEndedSessions, SessionBounds(now)) >= 0 &&
           Execute(
               "INSERT INTO sessions(id_hash, login, form_token, created, last_seen)"
               " VALUES (?1, ?2, ?3, ?4, ?4)",
               {idHash, session.login, session.formToken, when}) > 0;
}

SqliteStore::Presence SqliteStore::FindSession(const std::string& idHash, std::int64_t now,
                                               WebSession& out) {
    std::vector<std::string> params = SessionBounds(now);
    params.insert(params.begin(), {idHash, std::to_string(now)});
    bool found = false;
    const int done = Execute(sql::kSqliteFindSession, params, [&](sqlite3_stmt* st) {
        out = {Text(st, 0), Text(st, 1), sqlite3_column_int64(st, 2)};
        found = true;
    });
    return done < 0 ? Presence::Unknown : found ? Presence::Found : Presence::Absent;
}

bool SqliteStore::RemoveSession(const std::string& idHash) {
    return Execute("DELETE FROM sessions WHERE id_hash = ?1", {idHash}) >= 0;
}

bool SqliteStore::RemoveSessions(const std::string& login, const std::string& keepHash) {
    return Execute("DELETE FROM sessions WHERE login = ?1 AND id_hash != ?2", {login, keepHash}) >=
           0;
}

bool SqliteStore::ReadHosts(Account& account) {
    account.hosts.clear();
    return Execute(reader_, sql::kSqliteHosts, {account.name},
                   [&account](sqlite3_stmt* st) { account.hosts.push_back(HostRow(st)); }) >= 0;
}

bool SqliteStore::AddHost(const std::string& login, const std::string& label,
                          const std::string& tokenHash) {
    return Execute(sql::kSqliteAddHost, {login, label, tokenHash}) > 0;
}

bool SqliteStore::SetHostToken(const std::string& login, const std::string& label,
                               const std::string& tokenHash) {
    return Execute("UPDATE hosts SET token_hash = ?3 WHERE label = lower(?2) AND account = ?1",
                   {login, label, tokenHash}) > 0;
}

bool SqliteStore::RemoveHost(const std::string& login, const std::string& label) {
    return Execute("DELETE FROM hosts WHERE label = lower(?2) AND account = ?1", {login, label}) >
           0;
}

bool SqliteStore::Add(const std::string& name, const std::string& passwordHash) {
    return Execute(
               std::string("INSERT INTO accounts(name, password_hash, created)"
                           " SELECT ?1, ?2, (SELECT COALESCE(MAX(created), 0) + 1 FROM accounts)") +
                   sql::kSqliteLoginFree,
               {name, passwordHash}) > 0;
}

bool SqliteStore::SetPasswordHash(const std::string& name, const std::string& passwordHash) {
    return Execute("UPDATE accounts SET password_hash = ?2 WHERE name = ?1", {name, passwordHash}) >
           0;
}

bool SqliteStore::SetTokenHash(const std::string& name, const std::string& tokenHash) {
    return Execute("UPDATE accounts SET token_hash = ?2 WHERE name = ?1", {name, tokenHash}) > 0;
}

bool SqliteStore::SetBanned(const std::string& name, bool banned) {
    return Execute("UPDATE accounts SET banned = ?2 WHERE name = ?1", {name, banned ? "1" : "0"}) >
           0;
}

bool SqliteStore::Remove(const std::string& name) {
    return Execute("DELETE FROM accounts WHERE name = ?1", {name}) > 0;
}

std::optional<std::vector<SqliteStore::Publication>> SqliteStore::Pending(const std::string* name) {
    static const std::string kPending = sql::kPendingPublications;
    static const std::string kOrder = " ORDER BY kind";
    static const std::string kOfOne = kPending + " WHERE name = ?1" + kOrder;
    std::lock_guard lock(reader_.mutex);
    sqlite3_stmt* st = reader_.Prepared(name != nullptr ? kOfOne : kPending + kOrder);
    if (st == nullptr) {
        reader_.Note(sqlite3_errcode(reader_.db));
        return std::nullopt;
    }
    if (name != nullptr) {
        sqlite3_bind_text(st, 1, name->c_str(), static_cast<int>(name->size()), SQLITE_TRANSIENT);
    }
    std::vector<Publication> pending;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        pending.push_back({Text(st, 0), Text(st, 1)});
    }
    reader_.Note(rc);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return rc == SQLITE_DONE ? std::optional(std::move(pending)) : std::nullopt;
}

std::optional<std::vector<SqliteStore::Publication>> SqliteStore::PendingPublications() {
    return Pending(nullptr);
}

// One process publishes from a file, so the right is always this one's; the
// state is read again in case it changed since the list was made.
SqliteStore::Claim SqliteStore::ClaimPublication(const std::string& name, Publication& now) {
    const auto pending = Pending(&name);
    if (!pending) {
        return Claim::Failed;
    }
    if (pending->empty()) {
        return Claim::NotPending;
    }
    now = pending->front();
    return Execute("UPDATE accounts SET maybe_published = 1 WHERE name = ?1", {name}) >= 0 &&
                   Execute("UPDATE hosts SET maybe_published = 1 WHERE label = ?1", {name}) >= 0
               ? Claim::Mine
               : Claim::Failed;
}

bool SqliteStore::MarkPublished(const std::string& name, const std::string& address) {
    return Execute(
               "UPDATE accounts SET published_address = ?2, maybe_published = 0,"
               " publish_failure = '' WHERE name = ?1",
               {name, address}) >= 0 &&
           Execute(
               "UPDATE hosts SET published_address = ?2, maybe_published = 0,"
               " publish_failure = '' WHERE label = ?1",
               {name, address}) >= 0 &&
           (!address.empty() || Execute("DELETE FROM withdrawals WHERE name = ?1", {name}) >= 0);
}

bool SqliteStore::NoteFailure(const std::string& name, const std::string& reason) {
    return Execute("UPDATE accounts SET publish_failure = ?2 WHERE name = ?1", {name, reason}) >=
               0 &&
           Execute("UPDATE hosts SET publish_failure = ?2 WHERE label = ?1", {name, reason}) >= 0;
}

// In one transaction, which holds the writer's connection throughout so that
// no other thread's write joins it.
bool SqliteStore::NoteZone(const std::vector<HeldName>& held) {
    std::lock_guard lock(writer_.mutex);
    bool done = ExecuteHeld(writer_, "BEGIN IMMEDIATE", {}) >= 0;
    if (!done) {
        return false;
    }
    done = ExecuteHeld(writer_, sql::kClearZoneNames, {}) >= 0;
    for (const HeldName& name : held) {
        done =
            done && ExecuteHeld(writer_,
                                "INSERT INTO zone_names(name, addresses, own) VALUES (?1, ?2, ?3)"
                                " ON CONFLICT DO NOTHING",
                                {name.label, name.addresses, name.asPublished ? "0" : "1"}) >= 0;
    }
    for (const char* step : sql::kSortOutZoneNames) {
        done = done && ExecuteHeld(writer_, step, {}) >= 0;
    }
    return FinishHeld(done);
}

std::int64_t SqliteStore::DataVersion() {
    std::lock_guard lock(reader_.mutex);
    sqlite3_stmt* st = reader_.Prepared("PRAGMA data_version");
    const std::int64_t version =
        st != nullptr && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    if (st != nullptr) {
        sqlite3_reset(st);
    }
    return version;
}

SqliteStore::Recording SqliteStore::RecordUpdate(const std::string& name,
                                                 const std::string& provedHash,
                                                 const HostUpdate& update, const std::string& from,
                                                 std::int64_t when) {
    return RecordingOf(Execute(update.label.empty() ? sql::kSqliteRecord : sql::kSqliteHostRecord,
                               RecordParameters(name, provedHash, update, from, when)));
}

}  // namespace service
