#include "service/store/postgres_store.h"

#include <libpq-fe.h>

#include "service/store/shared_sql.h"

namespace service {

namespace {

using postgres::Field;
using postgres::Outcome;
using postgres::Statement;

const std::string kLook = std::string(sql::kAccountColumns) + " WHERE name = $1";
const std::string kList = std::string(sql::kAccountColumns) + " ORDER BY name COLLATE \"C\"";
const std::string kPending = std::string(sql::kPendingPublications) + " ORDER BY kind";
const std::string kPendingOfOne =
    std::string(sql::kPendingPublications) + " WHERE name = $1 ORDER BY kind";

const std::string kClaim =
    std::string("SELECT pg_try_advisory_lock(") + postgres::kLockSpace + ", hashtext($1))";
const std::string kRelease =
    std::string("SELECT pg_advisory_unlock(") + postgres::kLockSpace + ", hashtext($1))";

const Statement kLookStatement{"look", kLook.c_str()};
const Statement kListStatement{"list", kList.c_str()};
const std::string kAddSql = std::string(
                                "INSERT INTO accounts(name, password_hash, dns_name)"
                                " SELECT $1::text, $2::text, lower($1)") +
                            sql::kPostgresLoginFree;
const Statement kAdd{"add", kAddSql.c_str()};
const Statement kZoneName{"zone_name",
                          "INSERT INTO zone_names(name, addresses, own) VALUES ($1, $2, $3)"
                          " ON CONFLICT DO NOTHING"};
const Statement kSetHash{"set_hash", "UPDATE accounts SET password_hash = $2 WHERE name = $1"};
const Statement kSetToken{"set_token", "UPDATE accounts SET token_hash = $2 WHERE name = $1"};
const Statement kSetBanned{"set_banned", "UPDATE accounts SET banned = $2 WHERE name = $1"};
const Statement kRemove{"remove", "DELETE FROM accounts WHERE name = $1"};
const Statement kRecord{"record", sql::kPostgresRecord};
const Statement kHostRecord{"host_record", sql::kPostgresHostRecord};
const Statement kEndedSessions{"ended_sessions", sql::kPostgresEndedSessions};
const Statement kAddSession{"add_session",
                            "INSERT INTO sessions(id_hash, login, form_token, created, last_seen)"
                            " VALUES ($1, $2, $3, $4, $4)"};
const Statement kFindSession{"find_session", sql::kPostgresFindSession};
const Statement kRemoveSession{"remove_session", "DELETE FROM sessions WHERE id_hash = $1"};
const Statement kRemoveSessions{"remove_sessions",
                                "DELETE FROM sessions WHERE login = $1 AND id_hash != $2"};
const Statement kHosts{"hosts", sql::kPostgresHosts};
const Statement kAddHost{"add_host", sql::kPostgresAddHost};
const Statement kSetHostToken{
    "set_host_token", "UPDATE hosts SET token_hash = $3 WHERE label = lower($2) AND account = $1"};
const Statement kRemoveHost{"remove_host",
                            "DELETE FROM hosts WHERE label = lower($2) AND account = $1"};
const Statement kPendingStatement{"pending", kPending.c_str()};
const Statement kPendingOfOneStatement{"pending_of_one", kPendingOfOne.c_str()};
const Statement kClaimStatement{"claim", kClaim.c_str()};
const Statement kReleaseStatement{"release", kRelease.c_str()};
// A name is an account's or a host's.
const Statement kMaybePublished{"maybe_published",
                                "WITH h AS (UPDATE hosts SET maybe_published = 1 WHERE label = $1)"
                                " UPDATE accounts SET maybe_published = 1 WHERE name = $1"};
const Statement kMarkPublished{
    "mark_published",
    "WITH h AS (UPDATE hosts SET published_address = $2, maybe_published = 0,"
    " publish_failure = '' WHERE label = $1) UPDATE accounts SET published_address = $2,"
    " maybe_published = 0, publish_failure = '' WHERE name = $1"};
const Statement kNoteFailure{"note_failure",
                             "WITH h AS (UPDATE hosts SET publish_failure = $2 WHERE label = $1)"
                             " UPDATE accounts SET publish_failure = $2 WHERE name = $1"};
const Statement kWithdrawn{"withdrawn", "DELETE FROM withdrawals WHERE name = $1"};
// Moves on whenever any transaction on the server has written.
const Statement kDataVersion{"data_version",
                             "SELECT pg_snapshot_xmax(pg_current_snapshot())::text::bigint"};

// The address columns of row, from column first on.
void ReadAddresses(PGresult* r, int row, int first, HostAddresses& h) {
    h.lastAddress = Field(r, row, first);
    h.lastAddress6 = Field(r, row, first + 1);
    h.v4At = std::stoll(Field(r, row, first + 2));
    h.v4From = Field(r, row, first + 3);
    h.v6At = std::stoll(Field(r, row, first + 4));
    h.v6From = Field(r, row, first + 5);
    h.publishedAddress = Field(r, row, first + 6);
    h.publishFailure = Field(r, row, first + 7);
}

}  // namespace

std::unique_ptr<AccountStore> PostgresStore::Open(const std::string& uri, std::string& error) {
    std::unique_ptr<PostgresStore> store(new PostgresStore(uri));
    bool ready;
    {
        postgres::Connections::Lease lease(store->db_);
        ready = store->db_.Connect(*lease) && store->Prepare(*lease);
    }
    if (!ready) {
        error = store->LastTrouble() == Trouble::Busy
                    ? "database is busy, try again"
                    : "the PostgreSQL database cannot be used: " + store->LastError();
        return nullptr;
    }
    return store;
}

int PostgresStore::Change(const Statement& st, const std::vector<std::string>& params) {
    return postgres::ChangedRows(db_.Pooled(st, params));
}

std::vector<Account> PostgresStore::Accounts(const Statement& st,
                                             const std::vector<std::string>& params, bool& ok) {
    const Outcome done = db_.Pooled(st, params);
    ok = static_cast<bool>(done);
    std::vector<Account> rows;
    for (int i = 0; i < postgres::RowCount(done); ++i) {
        PGresult* r = done.result.get();
        Account& a = rows.emplace_back();
        a.name = Field(r, i, 0);
        a.passwordHash = Field(r, i, 1);
        a.banned = Field(r, i, 2) == "t";
        a.lastUpdate = std::stoll(Field(r, i, 3));
        a.olderTwin = Field(r, i, 4);
        a.zonesOwn = Field(r, i, 5) == "t";
        a.tokenHash = Field(r, i, 6);
        a.tokenKey = Field(r, i, 7);
        ReadAddresses(r, i, sql::kAccountAddressColumn, a);
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

// The check in kAdd cannot see an add of the same name in another case that
// another instance has yet to commit; the unique DNS name makes this one wait
// for it, and then fail.
bool PostgresStore::Add(const std::string& name, const std::string& passwordHash) {
    return Insert(kAdd, {name, passwordHash});
}

bool PostgresStore::Insert(const Statement& st, const std::vector<std::string>& params) {
    const Outcome done = db_.Pooled(st, params);
    if (done.sqlState == "23505") {  // unique_violation
        db_.Note(Trouble::None, "");
        return false;
    }
    return postgres::ChangedRows(done) > 0;
}

bool PostgresStore::AddSession(const std::string& idHash, const WebSession& session,
                               std::int64_t now) {
    return Change(kEndedSessions, SessionBounds(now)) >= 0 &&
           Change(kAddSession, {idHash, session.login, session.formToken, std::to_string(now)}) > 0;
}

AccountStore::Presence PostgresStore::FindSession(const std::string& idHash, std::int64_t now,
                                                  WebSession& out) {
    std::vector<std::string> params = SessionBounds(now);
    params.insert(params.begin(), {idHash, std::to_string(now)});
    const Outcome done = db_.Pooled(kFindSession, params);
    if (!done) {
        return Presence::Unknown;
    }
    if (postgres::RowCount(done) == 0) {
        return Presence::Absent;
    }
    PGresult* r = done.result.get();
    out = {Field(r, 0, 0), Field(r, 0, 1), std::stoll(Field(r, 0, 2))};
    return Presence::Found;
}

bool PostgresStore::RemoveSession(const std::string& idHash) {
    return Change(kRemoveSession, {idHash}) >= 0;
}

bool PostgresStore::RemoveSessions(const std::string& login, const std::string& keepHash) {
    return Change(kRemoveSessions, {login, keepHash}) >= 0;
}

bool PostgresStore::ReadHosts(Account& account) {
    account.hosts.clear();
    const Outcome done = db_.Pooled(kHosts, {account.name});
    for (int i = 0; i < postgres::RowCount(done); ++i) {
        PGresult* r = done.result.get();
        Host& h = account.hosts.emplace_back();
        h.label = Field(r, i, 0);
        h.tokenHash = Field(r, i, 1);
        ReadAddresses(r, i, sql::kHostAddressColumn, h);
    }
    return static_cast<bool>(done);
}

bool PostgresStore::AddHost(const std::string& login, const std::string& label,
                            const std::string& tokenHash) {
    return Insert(kAddHost, {login, label, tokenHash});
}

bool PostgresStore::SetHostToken(const std::string& login, const std::string& label,
                                 const std::string& tokenHash) {
    return Change(kSetHostToken, {login, label, tokenHash}) > 0;
}

bool PostgresStore::RemoveHost(const std::string& login, const std::string& label) {
    return Change(kRemoveHost, {login, label}) > 0;
}

bool PostgresStore::Finish(postgres::Link& link, bool done) {
    if (done && db_.Exec(link, "COMMIT")) {
        return true;
    }
    const Trouble trouble = LastTrouble();  // the failed step's, not the rollback's
    const std::string text = LastError();
    db_.Exec(link, "ROLLBACK");
    db_.Note(trouble == Trouble::None ? Trouble::Failed : trouble, text);
    return false;
}

bool PostgresStore::SetPasswordHash(const std::string& name, const std::string& passwordHash) {
    return Change(kSetHash, {name, passwordHash}) > 0;
}

bool PostgresStore::SetTokenHash(const std::string& name, const std::string& tokenHash) {
    return Change(kSetToken, {name, tokenHash}) > 0;
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
                                                    const HostUpdate& update,
                                                    const std::string& from, std::int64_t when) {
    return RecordingOf(Change(update.label.empty() ? kRecord : kHostRecord,
                              RecordParameters(name, provedHash, update, from, when)));
}

std::optional<std::vector<AccountStore::Publication>> PostgresStore::Pending(
    const Statement& st, const std::vector<std::string>& params) {
    const Outcome done = db_.Run(publisher_, st, params);
    if (!done) {
        return std::nullopt;
    }
    std::vector<Publication> pending;
    for (int i = 0; i < postgres::RowCount(done); ++i) {
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
    const Outcome claimed = db_.Run(publisher_, kClaimStatement, {name});
    if (!claimed) {
        return Claim::Failed;
    }
    if (Field(claimed.result.get(), 0, 0) != "t") {
        return Claim::HeldElsewhere;
    }
    const auto pending = Pending(kPendingOfOneStatement, {name});
    if (pending && !pending->empty() && db_.Run(publisher_, kMaybePublished, {name})) {
        now = pending->front();
        return Claim::Mine;
    }
    db_.Run(publisher_, kReleaseStatement, {name});
    return pending && pending->empty() ? Claim::NotPending : Claim::Failed;
}

void PostgresStore::ReleasePublication(const std::string& name) {
    std::lock_guard lock(publisherMutex_);
    db_.Run(publisher_, kReleaseStatement, {name});
}

bool PostgresStore::MarkPublished(const std::string& name, const std::string& address) {
    std::lock_guard lock(publisherMutex_);
    return db_.Run(publisher_, kMarkPublished, {name, address}) &&
           (!address.empty() || db_.Run(publisher_, kWithdrawn, {name}));
}

bool PostgresStore::NoteFailure(const std::string& name, const std::string& reason) {
    std::lock_guard lock(publisherMutex_);
    return static_cast<bool>(db_.Run(publisher_, kNoteFailure, {name, reason}));
}

bool PostgresStore::NoteZone(const std::vector<HeldName>& held) {
    std::lock_guard lock(publisherMutex_);
    bool done = db_.Connect(publisher_) && db_.Exec(publisher_, "BEGIN") &&
                db_.Exec(publisher_, sql::kClearZoneNames);
    for (const HeldName& name : held) {
        done = done && db_.Run(publisher_, kZoneName,
                               {name.label, name.addresses, name.asPublished ? "0" : "1"});
    }
    for (const char* step : sql::kSortOutZoneNames) {
        done = done && db_.Exec(publisher_, step);
    }
    return Finish(publisher_, done);
}

std::int64_t PostgresStore::DataVersion() {
    std::lock_guard lock(publisherMutex_);
    const Outcome done = db_.Run(publisher_, kDataVersion, {});
    return done ? std::stoll(Field(done.result.get(), 0, 0)) : -1;
}

}  // namespace service
