#include "service/postgres_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "service/store_sql.h"

namespace service {

namespace {

using Statement = PostgresStore::Statement;

// The longest wait for an answer, a little longer than the server's own
// statement time-out: past it the server is taken as gone.
constexpr auto kAnswerWait = std::chrono::seconds(10);
// A connection to a database that went away tries again after this long.
constexpr auto kReconnectPause = std::chrono::seconds(1);

// Defaults a URI can override: no wait without end for a host that vanished,
// and a name for the server's activity view.
constexpr const char* kDefaultKeywords[] = {
    "connect_timeout",  "tcp_user_timeout", "keepalives_idle", "keepalives_interval",
    "keepalives_count", "application_name", "dbname",          nullptr};
constexpr const char* kDefaultValues[] = {"3", "5000", "5", "2", "2", "kestrome-service"};

// The same wait for a busy database as the SQLite store's.
constexpr const char* kSessionSetup = "SET statement_timeout = '5s'";

// Serialises schema set-up and names the claims on published names; any
// constant that no other program sharing the database is likely to use.
constexpr const char* kLockSpace = "1263748941";

const char* kVersion1[] = {
    "CREATE TABLE accounts ("
    " name TEXT PRIMARY KEY NOT NULL,"
    " password_hash TEXT NOT NULL,"
    " banned BOOLEAN NOT NULL DEFAULT false,"
    " last_address TEXT NOT NULL DEFAULT '',"
    " last_update BIGINT NOT NULL DEFAULT 0)",
};

// Version 2: as in the SQLite store, the published address and the
// withdrawals noted by a trigger when a name with records is removed.
const char* kVersion2[] = {
    "ALTER TABLE accounts ADD COLUMN published_address TEXT NOT NULL DEFAULT ''",
    "CREATE TABLE withdrawals (name TEXT PRIMARY KEY NOT NULL)",
    "CREATE FUNCTION note_withdrawal() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN INSERT INTO withdrawals(name) VALUES (OLD.name) ON CONFLICT DO NOTHING;"
    " RETURN NULL; END $$",
    "CREATE TRIGGER account_removed AFTER DELETE ON accounts FOR EACH ROW"
    " WHEN (OLD.published_address != '') EXECUTE FUNCTION note_withdrawal()",
};

const std::string kLook = std::string(sql::kAccountColumns) + " WHERE name = $1";
const std::string kList = std::string(sql::kAccountColumns) + " ORDER BY name COLLATE \"C\"";
const std::string kPending = std::string(sql::kPendingPublications) + " ORDER BY kind";
const std::string kPendingOfOne =
    std::string(sql::kPendingPublications) + " WHERE name = $1 ORDER BY kind";
const std::string kClaim =
    std::string("SELECT pg_try_advisory_lock(") + kLockSpace + ", hashtext($1))";
const std::string kRelease =
    std::string("SELECT pg_advisory_unlock(") + kLockSpace + ", hashtext($1))";

const Statement kLookStatement{"look", kLook.c_str()};
const Statement kListStatement{"list", kList.c_str()};
const Statement kAdd{"add", "INSERT INTO accounts(name, password_hash) VALUES ($1, $2)"};
const Statement kSetHash{"set_hash", "UPDATE accounts SET password_hash = $2 WHERE name = $1"};
const Statement kSetBanned{"set_banned", "UPDATE accounts SET banned = $2 WHERE name = $1"};
const Statement kRemove{"remove", "DELETE FROM accounts WHERE name = $1"};
const Statement kRecord{"record",
                        "UPDATE accounts SET last_address = $2, last_update = $3"
                        " WHERE name = $1 AND password_hash = $4 AND NOT banned"};
const Statement kPendingStatement{"pending", kPending.c_str()};
const Statement kPendingOfOneStatement{"pending_of_one", kPendingOfOne.c_str()};
const Statement kClaimStatement{"claim", kClaim.c_str()};
const Statement kReleaseStatement{"release", kRelease.c_str()};
const Statement kMarkPublished{"mark_published",
                               "UPDATE accounts SET published_address = $2 WHERE name = $1"};
const Statement kWithdrawn{"withdrawn", "DELETE FROM withdrawals WHERE name = $1"};
// Moves on whenever any transaction on the server has written.
const Statement kDataVersion{"data_version",
                             "SELECT pg_snapshot_xmax(pg_current_snapshot())::text::bigint"};

// A libpq message on one line: its line breaks and tabs each one space.
std::string OneLine(const char* text) {
    std::string line;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
        if (!blank || (!line.empty() && line.back() != ' ')) {
            line += blank ? ' ' : *c;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

// Lock and statement time-outs, serialisation failures and deadlocks.
bool IsBusy(const std::string& sqlState) {
    return sqlState == "57014" || sqlState == "55P03" || sqlState == "40001" || sqlState == "40P01";
}

std::string Field(PGresult* r, int row, int column) {
    return PQgetvalue(r, row, column);
}

}  // namespace

PostgresStore::Link::~Link() {
    Drop();
}

void PostgresStore::Link::Drop() {
    PQfinish(conn);
    conn = nullptr;
    prepared.clear();
}

PostgresStore::Lease::Lease(PostgresStore& store) : store_(store) {
    std::unique_lock lock(store.poolMutex_);
    store.returned_.wait(lock,
                         [&store] { return !store.idle_.empty() || store.created_ < kPooled; });
    if (store.idle_.empty()) {
        ++store.created_;
        link_ = std::make_unique<Link>();
    } else {
        link_ = std::move(store.idle_.back());
        store.idle_.pop_back();
    }
}

PostgresStore::Lease::~Lease() {
    {
        std::lock_guard lock(store_.poolMutex_);
        store_.idle_.push_back(std::move(link_));
    }
    store_.returned_.notify_one();
}

PostgresStore::~PostgresStore() = default;

std::unique_ptr<AccountStore> PostgresStore::Open(const std::string& uri, std::string& error) {
    std::unique_ptr<PostgresStore> store(new PostgresStore(uri));
    bool ready;
    {
        Lease lease(*store);
        ready = store->Connect(*lease) && store->Prepare(*lease);
    }
    if (!ready) {
        error = store->LastTrouble() == Trouble::Busy
                    ? "database is busy, try again"
                    : "the PostgreSQL database cannot be used: " + store->LastError();
        return nullptr;
    }
    return store;
}

void PostgresStore::Note(Trouble trouble, const std::string& text) {
    std::lock_guard lock(troubleMutex_);
    trouble_ = trouble;
    troubleText_ = text;
}

AccountStore::Trouble PostgresStore::LastTrouble() {
    std::lock_guard lock(troubleMutex_);
    return trouble_;
}

std::string PostgresStore::LastError() {
    std::lock_guard lock(troubleMutex_);
    return troubleText_;
}

bool PostgresStore::Connect(Link& link) {
    if (link.conn != nullptr && PQstatus(link.conn) == CONNECTION_OK) {
        return true;
    }
    link.Drop();
    const auto now = std::chrono::steady_clock::now();
    if (now < link.nextAttempt) {
        Note(Trouble::Failed, "the database cannot be reached; trying again shortly");
        return false;
    }
    const char* values[std::size(kDefaultKeywords)] = {};
    std::copy(std::begin(kDefaultValues), std::end(kDefaultValues), values);
    values[std::size(kDefaultKeywords) - 2] = uri_.c_str();
    link.conn = PQconnectdbParams(kDefaultKeywords, values, 1);
    if (PQstatus(link.conn) != CONNECTION_OK) {
        const std::string why = OneLine(PQerrorMessage(link.conn));
        Note(Trouble::Failed, why);
        link.Drop();
        link.nextAttempt = now + kReconnectPause;
        if (!away_.exchange(true)) {
            notice_("kestrome-service: the database cannot be reached (" + why +
                    "); updates are answered 503 until it is back\n");
        }
        return false;
    }
    if (away_.exchange(false)) {
        notice_("kestrome-service: the database is reachable again\n");
    }
    return Exec(link, kSessionSetup);
}

PostgresStore::Result PostgresStore::Await(Link& link, bool sent) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    while (sent && PQisBusy(link.conn)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd ready{PQsocket(link.conn), POLLIN, 0};
        if (left <= 0 || (poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR)) {
            Note(Trouble::Failed, "the database did not answer within " +
                                      std::to_string(kAnswerWait.count()) + " s");
            link.Drop();
            return Result(nullptr, PQclear);
        }
        sent = PQconsumeInput(link.conn) == 1;
    }
    Result first(nullptr, PQclear);
    while (PGresult* r = PQgetResult(link.conn)) {
        if (first) {
            PQclear(r);
        } else {
            first.reset(r);
        }
    }
    return first;
}

PostgresStore::Result PostgresStore::Query(Link& link, const std::string& sql) {
    return Await(link, PQsendQuery(link.conn, sql.c_str()) == 1);
}

bool PostgresStore::Exec(Link& link, const std::string& sql) {
    if (link.conn == nullptr) {
        return false;  // dropped by a statement that got no answer, which told why
    }
    const Result r = Query(link, sql);
    const ExecStatusType status = PQresultStatus(r.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        return true;
    }
    if (link.conn != nullptr) {
        const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
        Note(IsBusy(state != nullptr ? state : "") ? Trouble::Busy : Trouble::Failed,
             OneLine(PQerrorMessage(link.conn)));
    }
    return false;
}

PostgresStore::Outcome PostgresStore::Run(Link& link, const Statement& st,
                                          const std::vector<std::string>& params) {
    std::vector<const char*> values;
    for (const std::string& p : params) {
        values.push_back(p.c_str());
    }
    const int n = static_cast<int>(values.size());
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool wasOpen = link.conn != nullptr;
        if (!Connect(link)) {
            return {Result(nullptr, PQclear), ""};
        }
        if (!link.prepared.contains(st.name)) {
            const Result made = Await(link, PQsendPrepare(link.conn, st.name, st.sql, n, nullptr));
            if (PQresultStatus(made.get()) == PGRES_COMMAND_OK) {
                link.prepared.insert(st.name);
            }
        }
        Result r = link.conn == nullptr
                       ? Result(nullptr, PQclear)
                       : Await(link, PQsendQueryPrepared(link.conn, st.name, n, values.data(),
                                                         nullptr, nullptr, 0));
        if (link.conn == nullptr) {
            return {Result(nullptr, PQclear), ""};  // no answer in time, told by Await
        }
        const ExecStatusType status = PQresultStatus(r.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            Note(Trouble::None, "");
            return {std::move(r), ""};
        }
        const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
        const std::string sqlState = state != nullptr ? state : "";
        Note(IsBusy(sqlState) ? Trouble::Busy : Trouble::Failed,
             OneLine(PQerrorMessage(link.conn)));
        // A connection that broke since its last use (the database restarted)
        // is opened again at once.
        if (PQstatus(link.conn) == CONNECTION_OK || !wasOpen) {
            return {Result(nullptr, PQclear), sqlState};
        }
        link.Drop();
    }
    return {Result(nullptr, PQclear), ""};
}

PostgresStore::Outcome PostgresStore::Pooled(const Statement& st,
                                             const std::vector<std::string>& params) {
    Lease lease(*this);
    return Run(*lease, st, params);
}

int PostgresStore::Change(const Statement& st, const std::vector<std::string>& params) {
    const Outcome done = Pooled(st, params);
    return done ? std::atoi(PQcmdTuples(done.result.get())) : -1;
}

std::vector<Account> PostgresStore::Accounts(const Statement& st,
                                             const std::vector<std::string>& params, bool& ok) {
    const Outcome done = Pooled(st, params);
    ok = static_cast<bool>(done);
    std::vector<Account> rows;
    for (int i = 0; ok && i < PQntuples(done.result.get()); ++i) {
        PGresult* r = done.result.get();
        rows.push_back({Field(r, i, 0), Field(r, i, 1), Field(r, i, 2) == "t", Field(r, i, 3),
                        std::stoll(Field(r, i, 4)), Field(r, i, 5)});
    }
    // A name that cannot be stored in the database's encoding is no account's.
    if (!ok && done.sqlState.starts_with("22")) {
        ok = true;
    }
    return rows;
}

AccountStore::Presence PostgresStore::Look(const std::string& name, Account& out) {
    // A name with a NUL would be cut short on its way to the server.
    if (name.find('\0') != std::string::npos) {
        return Presence::Absent;
    }
    bool ok = false;
    std::vector<Account> rows = Accounts(kLookStatement, {name}, ok);
    return PresenceOf(ok, rows, out);
}

std::vector<Account> PostgresStore::List() {
    bool ok = false;
    return Accounts(kListStatement, {}, ok);
}

bool PostgresStore::Add(const std::string& name, const std::string& passwordHash) {
    return Change(kAdd, {name, passwordHash}) > 0;
}

bool PostgresStore::SetPasswordHash(const std::string& name, const std::string& passwordHash) {
    return Change(kSetHash, {name, passwordHash}) > 0;
}

bool PostgresStore::SetBanned(const std::string& name, bool banned) {
    return Change(kSetBanned, {name, banned ? "true" : "false"}) > 0;
}

bool PostgresStore::Remove(const std::string& name) {
    return Change(kRemove, {name}) > 0;
}

// Each statement commits on its own, so Recorded is only ever told after the
// commit.
AccountStore::Recording PostgresStore::RecordUpdate(const std::string& name,
                                                    const std::string& provedHash,
                                                    const std::string& address, std::int64_t when) {
    const int changed = Change(kRecord, {name, address, std::to_string(when), provedHash});
    return RecordingOf(changed);
}

std::optional<std::vector<AccountStore::Publication>> PostgresStore::Pending(
    const Statement& st, const std::vector<std::string>& params) {
    const Outcome done = Run(publisher_, st, params);
    if (!done) {
        return std::nullopt;
    }
    std::vector<Publication> pending;
    for (int i = 0; i < PQntuples(done.result.get()); ++i) {
        pending.push_back({Field(done.result.get(), i, 0), Field(done.result.get(), i, 1)});
    }
    return pending;
}

std::optional<std::vector<AccountStore::Publication>> PostgresStore::PendingPublications() {
    std::lock_guard lock(publisherMutex_);
    return Pending(kPendingStatement, {});
}

// The right to publish a name is a session lock on the publication's own
// connection: the server gives it back if this instance dies.
AccountStore::Claim PostgresStore::ClaimPublication(const std::string& name, Publication& now) {
    std::lock_guard lock(publisherMutex_);
    const Outcome claimed = Run(publisher_, kClaimStatement, {name});
    if (!claimed) {
        return Claim::Failed;
    }
    if (Field(claimed.result.get(), 0, 0) != "t") {
        return Claim::HeldElsewhere;
    }
    const auto pending = Pending(kPendingOfOneStatement, {name});
    if (pending && !pending->empty()) {
        now = pending->front();
        return Claim::Mine;
    }
    Run(publisher_, kReleaseStatement, {name});
    return pending ? Claim::NotPending : Claim::Failed;
}

void PostgresStore::ReleasePublication(const std::string& name) {
    std::lock_guard lock(publisherMutex_);
    Run(publisher_, kReleaseStatement, {name});
}

bool PostgresStore::MarkPublished(const std::string& name, const std::string& address) {
    std::lock_guard lock(publisherMutex_);
    return Run(publisher_, kMarkPublished, {name, address}) &&
           (!address.empty() || Run(publisher_, kWithdrawn, {name}));
}

std::int64_t PostgresStore::DataVersion() {
    std::lock_guard lock(publisherMutex_);
    const Outcome done = Run(publisher_, kDataVersion, {});
    return done ? std::stoll(Field(done.result.get(), 0, 0)) : -1;
}

bool PostgresStore::Prepare(Link& link) {
    const std::string version = "SELECT version FROM schema_version";
    const Result current = Query(link, version);
    if (PQresultStatus(current.get()) == PGRES_TUPLES_OK && PQntuples(current.get()) == 1 &&
        Field(current.get(), 0, 0) == std::to_string(kSchemaVersion)) {
        return true;  // current: nothing is written
    }
    if (!Exec(link, "BEGIN") ||
        !Exec(link, std::string("SELECT pg_advisory_xact_lock(") + kLockSpace + ", 0)") ||
        !Exec(link, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")) {
        Exec(link, "ROLLBACK");
        return false;
    }
    // Read again under the lock: another instance may have just set it up.
    const Result locked = Query(link, version);
    const int found = PQntuples(locked.get()) == 1 ? std::stoi(Field(locked.get(), 0, 0)) : 0;
    bool done = found <= kSchemaVersion;
    if (!done) {
        Note(Trouble::Failed,
             "its schema (version " + std::to_string(found) + ") is newer than this service's");
    }
    for (const char* step : kVersion1) {
        done = done && (found >= 1 || Exec(link, step));
    }
    for (const char* step : kVersion2) {
        done = done && (found >= 2 || Exec(link, step));
    }
    done = done && Exec(link, "DELETE FROM schema_version") &&
           Exec(link, "INSERT INTO schema_version VALUES (" + std::to_string(kSchemaVersion) + ")");
    if (!done) {
        const Trouble trouble = LastTrouble();  // the failed step's, not the rollback's
        const std::string text = LastError();
        Exec(link, "ROLLBACK");
        Note(trouble, text);
        return false;
    }
    return Exec(link, "COMMIT");
}

}  // namespace service
