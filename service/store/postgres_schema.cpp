// The PostgreSQL store's schema: the same tables and version as the SQLite
// file's, set up or migrated in one transaction under an advisory lock, so
// that instances starting together do it once.
#include <libpq-fe.h>

#include "service/store/postgres_store.h"
#include "service/store/shared_sql.h"

namespace service {

namespace {

using postgres::Field;

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

// Version 3: as in the SQLite store, names noted as possibly published.
const char* kVersion3[] = {
    "ALTER TABLE accounts ADD COLUMN maybe_published INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE accounts ADD COLUMN created BIGSERIAL",
    "DROP TRIGGER account_removed ON accounts",
    "CREATE TRIGGER account_removed AFTER DELETE ON accounts FOR EACH ROW"
    " WHEN (OLD.published_address != '' OR OLD.maybe_published != 0)"
    " EXECUTE FUNCTION note_withdrawal()",
};

// Version 4: as in the SQLite store, the names the zone held and the index
// of the names in lower case; and each account's DNS name, unique, so that
// adds by instances at once cannot make case twins (the younger twins of
// older databases have none).
const char* kVersion4[] = {
    "CREATE TABLE zone_names (name TEXT PRIMARY KEY NOT NULL,"
    " addresses TEXT NOT NULL, own INTEGER NOT NULL)",
    "ALTER TABLE accounts ADD COLUMN dns_name TEXT",
    sql::kDnsNamesOfTheOldest,
    "CREATE UNIQUE INDEX accounts_dns_name ON accounts (dns_name)",
    sql::kLowerNameIndex,
};

// Version 6: as in the SQLite store, hosts and their triggers. A label is
// unique among hosts by its key and among accounts by their DNS names; across
// the two, each add takes a lock on the name in lower case and then looks at
// the other table, so that instances adding one name at once cannot both
// succeed.
const char* kVersion6Triggers[] = {
    "CREATE TRIGGER host_removed AFTER DELETE ON hosts FOR EACH ROW"
    " WHEN (OLD.published_address != '' OR OLD.maybe_published != 0)"
    " EXECUTE FUNCTION note_host_withdrawal()",
    "CREATE TRIGGER account_hosts_removed AFTER DELETE ON accounts FOR EACH ROW"
    " EXECUTE FUNCTION remove_hosts()",
    "CREATE TRIGGER host_label_free BEFORE INSERT ON hosts FOR EACH ROW"
    " EXECUTE FUNCTION host_label_free()",
    "CREATE TRIGGER login_label_free BEFORE INSERT ON accounts FOR EACH ROW"
    " EXECUTE FUNCTION login_label_free()",
};
// The lock of a name (in lower case) for its add; in a space of its own, as
// publication claims names in kLockSpace.
std::string NameLock(const std::string& name) {
    return std::string(" PERFORM pg_advisory_xact_lock(") + postgres::kLockSpace +
           " + 1, hashtext(" + name + "));";
}

const std::string kVersion6Functions[] = {
    "CREATE FUNCTION note_host_withdrawal() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN INSERT INTO withdrawals(name) VALUES (OLD.label) ON CONFLICT DO NOTHING;"
    " RETURN NULL; END $$",
    "CREATE FUNCTION remove_hosts() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN DELETE FROM hosts WHERE account = OLD.name; RETURN NULL; END $$",
    "CREATE FUNCTION host_label_free() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN" +
        NameLock("NEW.label") +
        " IF EXISTS (SELECT 1 FROM accounts WHERE lower(name) = NEW.label) THEN"
        " RAISE unique_violation USING MESSAGE = 'an account has the name'; END IF;"
        " RETURN NEW; END $$",
    "CREATE FUNCTION login_label_free() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN" +
        NameLock("lower(NEW.name)") +
        " IF EXISTS (SELECT 1 FROM hosts WHERE label = lower(NEW.name)) THEN"
        " RAISE unique_violation USING MESSAGE = 'a host has the name'; END IF;"
        " RETURN NEW; END $$",
};

}  // namespace

bool PostgresStore::Prepare(postgres::Link& link) {
    const std::string version = "SELECT version FROM schema_version";
    const postgres::Result current = db_.Query(link, version);
    if (PQresultStatus(current.get()) == PGRES_TUPLES_OK && PQntuples(current.get()) == 1 &&
        Field(current.get(), 0, 0) == std::to_string(kSchemaVersion)) {
        return true;  // current: nothing is written
    }
    if (!db_.Exec(link, "BEGIN") ||
        !db_.Exec(link,
                  std::string("SELECT pg_advisory_xact_lock(") + postgres::kLockSpace + ", 0)") ||
        !db_.Exec(link, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")) {
        db_.Exec(link, "ROLLBACK");
        return false;
    }
    // Read again under the lock: another instance may have just set it up.
    const postgres::Result locked = db_.Query(link, version);
    const int found = PQntuples(locked.get()) == 1 ? std::stoi(Field(locked.get(), 0, 0)) : 0;
    bool done = found <= kSchemaVersion;
    if (!done) {
        db_.Note(Trouble::Failed,
                 "its schema (version " + std::to_string(found) + ") is newer than this service's");
    }
    for (const char* step : kVersion1) {
        done = done && (found >= 1 || db_.Exec(link, step));
    }
    for (const char* step : kVersion2) {
        done = done && (found >= 2 || db_.Exec(link, step));
    }
    for (const char* step : kVersion3) {
        done = done && (found >= 3 || db_.Exec(link, step));
    }
    for (const char* step : sql::kTwinsToTheOldest) {
        done = done && (found >= 3 || db_.Exec(link, step));
    }
    for (const char* step : kVersion4) {
        done = done && (found >= 4 || db_.Exec(link, step));
    }
    for (const char* step : sql::kAddressFamiliesAndTokens) {
        done = done && (found >= 5 || db_.Exec(link, step));
    }
    // 256 bits drawn from three random UUIDs (366 random bits).
    done = done && (found >= 5 || db_.Exec(link,
                                           "INSERT INTO token_key VALUES (encode(sha256(convert_to("
                                           "gen_random_uuid()::text || gen_random_uuid()::text"
                                           " || gen_random_uuid()::text, 'UTF8')), 'hex'))"));
    for (const char* step : sql::kHostsAndOrigins) {
        done = done && (found >= 6 || db_.Exec(link, step));
    }
    done = done && (found >= 6 || db_.Exec(link, sql::kSessions));
    for (const std::string& step : kVersion6Functions) {
        done = done && (found >= 6 || db_.Exec(link, step));
    }
    for (const char* step : kVersion6Triggers) {
        done = done && (found >= 6 || db_.Exec(link, step));
    }
    done = done && db_.Exec(link, "DELETE FROM schema_version") &&
           db_.Exec(link,
                    "INSERT INTO schema_version VALUES (" + std::to_string(kSchemaVersion) + ")");
    return Finish(link, done);
}

}  // namespace service
