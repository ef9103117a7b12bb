// SQL that both stores run as it stands.
#pragma once

namespace service::sql {

// An account that another, created before it, names the same regardless of
// case (from before such names were refused): DNS has room for one of them.
#define KESTROME_OLDER_TWIN                                                       \
    "SELECT t.name FROM accounts AS t WHERE lower(t.name) = lower(accounts.name)" \
    " AND t.created < accounts.created"

// Finds an account by its name in lower case, and its older twins, without
// reading every account: every lookup and update asks for them.
inline constexpr const char* kLowerNameIndex =
    "CREATE INDEX accounts_lower_name ON accounts (lower(name), created)";

// A name of the zone's own, found in the zone when publication started.
#define KESTROME_ZONES_OWN(label) \
    "SELECT 1 FROM zone_names AS z WHERE z.own = 1 AND z.name = " label

// Both kinds of host end with the same columns of their addresses.
#define KESTROME_ADDRESS_COLUMNS                                                       \
    " last_address, last_address6, v4_at, v4_from, v6_at, v6_from, published_address," \
    " publish_failure"
inline constexpr const char* kAccountColumns =
    "SELECT name, password_hash, banned, last_update,"
    " COALESCE((" KESTROME_OLDER_TWIN
    " ORDER BY t.created LIMIT 1), ''),"
    " EXISTS (" KESTROME_ZONES_OWN("lower(accounts.name)") "), token_hash,"
    " COALESCE((SELECT key FROM token_key), '')," KESTROME_ADDRESS_COLUMNS " FROM accounts";
inline constexpr int kAccountAddressColumn = 8;

// An account's other hosts (the statement's first parameter is the login).
#define KESTROME_HOST_COLUMNS(login)                                                          \
    "SELECT label, token_hash," KESTROME_ADDRESS_COLUMNS " FROM hosts WHERE account = " login \
    " ORDER BY label"
inline constexpr const char* kSqliteHosts = KESTROME_HOST_COLUMNS("?1");
inline constexpr const char* kPostgresHosts = KESTROME_HOST_COLUMNS("$1");
inline constexpr int kHostAddressColumn = 2;
#undef KESTROME_HOST_COLUMNS
#undef KESTROME_ADDRESS_COLUMNS

// The schema step that keeps each family's address in a column of its own
// (an IPv6 address recorded before moves to the new one), and gives each
// account a place for its update token's digest; each store then draws the
// database's token key.
inline constexpr const char* kAddressFamiliesAndTokens[] = {
    "ALTER TABLE accounts ADD COLUMN last_address6 TEXT NOT NULL DEFAULT ''",
    "UPDATE accounts SET last_address6 = last_address, last_address = ''"
    " WHERE last_address LIKE '%:%'",
    "ALTER TABLE accounts ADD COLUMN token_hash TEXT NOT NULL DEFAULT ''",
    "CREATE TABLE token_key (key TEXT NOT NULL)",
};

// The schema step that notes when and from where each family's address was
// set (an address recorded before was set at the last update, from an
// address not known), and gives accounts hosts beside their login's own:
// each host's label is unique and in lower case; removing a host that may
// have records leaves a withdrawal, and removing an account removes its
// hosts (each store makes the triggers); and notes why the name server last
// refused a name.
inline constexpr const char* kHostsAndOrigins[] = {
    "ALTER TABLE accounts ADD COLUMN v4_at BIGINT NOT NULL DEFAULT 0",
    "ALTER TABLE accounts ADD COLUMN v4_from TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE accounts ADD COLUMN v6_at BIGINT NOT NULL DEFAULT 0",
    "ALTER TABLE accounts ADD COLUMN v6_from TEXT NOT NULL DEFAULT ''",
    "UPDATE accounts SET v4_at = CASE WHEN last_address != '' THEN last_update ELSE 0 END,"
    " v6_at = CASE WHEN last_address6 != '' THEN last_update ELSE 0 END",
    "CREATE TABLE hosts (label TEXT PRIMARY KEY NOT NULL, account TEXT NOT NULL,"
    " token_hash TEXT NOT NULL DEFAULT '', last_address TEXT NOT NULL DEFAULT '',"
    " last_address6 TEXT NOT NULL DEFAULT '', v4_at BIGINT NOT NULL DEFAULT 0,"
    " v4_from TEXT NOT NULL DEFAULT '', v6_at BIGINT NOT NULL DEFAULT 0,"
    " v6_from TEXT NOT NULL DEFAULT '', published_address TEXT NOT NULL DEFAULT '',"
    " maybe_published INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX hosts_account ON hosts (account)",
    "ALTER TABLE accounts ADD COLUMN publish_failure TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE hosts ADD COLUMN publish_failure TEXT NOT NULL DEFAULT ''",
};

// The account page's sessions, by the digest of their ids.
inline constexpr const char* kSessions =
    "CREATE TABLE sessions (id_hash TEXT PRIMARY KEY NOT NULL, login TEXT NOT NULL,"
    " form_token TEXT NOT NULL, created BIGINT NOT NULL, last_seen BIGINT NOT NULL)";

// A session that has not ended (the parameters: its id's digest, now, the
// oldest last use and the oldest start it may have) is noted as used now.
#define KESTROME_FIND_SESSION(hash, now, idle, created)                                       \
    "UPDATE sessions SET last_seen = " now " WHERE id_hash = " hash " AND last_seen >= " idle \
    " AND created >= " created                                                                \
    " AND EXISTS (SELECT 1 FROM accounts AS a"                                                \
    " WHERE a.name = sessions.login AND NOT a.banned) RETURNING login, form_token, created"
inline constexpr const char* kSqliteFindSession = KESTROME_FIND_SESSION("?1", "?2", "?3", "?4");
inline constexpr const char* kPostgresFindSession = KESTROME_FIND_SESSION("$1", "$2", "$3", "$4");
#undef KESTROME_FIND_SESSION
inline constexpr const char* kSqliteEndedSessions =
    "DELETE FROM sessions WHERE last_seen < ?1 OR created < ?2";
inline constexpr const char* kPostgresEndedSessions =
    "DELETE FROM sessions WHERE last_seen < $1 OR created < $2";

// What an update records: each family's address, when and from where, when
// the update gives it (its flag is '1').
#define KESTROME_IF_SET(flag, column, value) \
    column " = CASE WHEN " flag " = '1' THEN " value " ELSE " column " END"
#define KESTROME_SET_FAMILY(flag, address, at, origin, value, when, from) \
    KESTROME_IF_SET(flag, address, value)                                 \
    ", " KESTROME_IF_SET(flag, at, when) ", " KESTROME_IF_SET(flag, origin, from)
#define KESTROME_SET_ADDRESSES(v4, v6, when, setV4, setV6, from)                   \
    KESTROME_SET_FAMILY(setV4, "last_address", "v4_at", "v4_from", v4, when, from) \
    ", " KESTROME_SET_FAMILY(setV6, "last_address6", "v6_at", "v6_from", v6, when, from)
#define KESTROME_SQLITE_SET KESTROME_SET_ADDRESSES("?2", "?3", "?4", "?5", "?6", "?8")
#define KESTROME_POSTGRES_SET KESTROME_SET_ADDRESSES("$2", "$3", "$4::bigint", "$5", "$6", "$8")
inline constexpr const char* kSqliteRecord =
    "UPDATE accounts SET " KESTROME_SQLITE_SET
    ", last_update = ?4 WHERE name = ?1 AND password_hash = ?7 AND banned = 0";
inline constexpr const char* kPostgresRecord =
    "UPDATE accounts SET " KESTROME_POSTGRES_SET
    ", last_update = $4::bigint WHERE name = $1 AND password_hash = $7 AND NOT banned";
// A host's, in the same step that checks its account as the account's own
// record does.
inline constexpr const char* kSqliteHostRecord =
    "UPDATE hosts SET " KESTROME_SQLITE_SET
    " WHERE label = ?9 AND account = ?1 AND EXISTS (SELECT 1 FROM accounts AS a"
    " WHERE a.name = ?1 AND a.password_hash = ?7 AND a.banned = 0)";
inline constexpr const char* kPostgresHostRecord =
    "UPDATE hosts SET " KESTROME_POSTGRES_SET
    " WHERE label = $9 AND account = $1 AND EXISTS (SELECT 1 FROM accounts AS a"
    " WHERE a.name = $1 AND a.password_hash = $7 AND NOT a.banned)";
#undef KESTROME_POSTGRES_SET
#undef KESTROME_SQLITE_SET
#undef KESTROME_SET_ADDRESSES
#undef KESTROME_SET_FAMILY
#undef KESTROME_IF_SET

// Whether a new login or host label (the given parameter) is free: no
// account has it in any case, no host has it, and the zone does not hold it.
#define KESTROME_NAME_FREE(param)                                                \
    " WHERE NOT EXISTS (SELECT 1 FROM accounts WHERE lower(name) = lower(" param \
    ")) AND NOT EXISTS (SELECT 1 FROM hosts WHERE label = lower(" param          \
    "))"                                                                         \
    " AND NOT EXISTS (" KESTROME_ZONES_OWN("lower(" param ")") ")"
inline constexpr const char* kSqliteLoginFree = KESTROME_NAME_FREE("?1");
inline constexpr const char* kPostgresLoginFree = KESTROME_NAME_FREE("$1");
// A host for an existing login (the first parameter) under a free label (the
// second), with its token's digest (the third).
inline constexpr const char* kSqliteAddHost =
    "INSERT INTO hosts(label, account, token_hash) SELECT lower(?2), ?1, ?3" KESTROME_NAME_FREE(
        "?2") " AND EXISTS (SELECT 1 FROM accounts WHERE name = ?1) ON CONFLICT DO NOTHING";
inline constexpr const char* kPostgresAddHost =
    "INSERT INTO hosts(label, account, token_hash) SELECT lower($2::text), $1::text, $3::text"
    KESTROME_NAME_FREE("$2") " AND EXISTS (SELECT 1 FROM accounts WHERE name = $1)"
    " ON CONFLICT DO NOTHING";
#undef KESTROME_NAME_FREE

// What the zone held when publication started, as the zone_names table holds
// it (each name first taken as the zone's own unless it looks as published),
// is sorted out in these steps: a name the store knows it may have published
// is the service's; one of the service's that no account has any more is
// withdrawn; an account whose records differ from what the store says is
// sent again. The zone's own names are never published.
inline constexpr const char* kClearZoneNames = "DELETE FROM zone_names";
inline constexpr const char* kSortOutZoneNames[] = {
    "UPDATE zone_names SET own = 0 WHERE own = 1 AND (EXISTS (SELECT 1 FROM accounts AS a"
    " WHERE lower(a.name) = zone_names.name AND (a.published_address != ''"
    " OR a.maybe_published != 0)) OR EXISTS (SELECT 1 FROM hosts AS h"
    " WHERE h.label = zone_names.name AND (h.published_address != ''"
    " OR h.maybe_published != 0)) OR EXISTS (SELECT 1 FROM withdrawals AS w"
    " WHERE lower(w.name) = zone_names.name))",
    "INSERT INTO withdrawals(name) SELECT z.name FROM zone_names AS z WHERE z.own = 0"
    " AND NOT EXISTS (SELECT 1 FROM accounts AS a WHERE lower(a.name) = z.name)"
    " AND NOT EXISTS (SELECT 1 FROM hosts AS h WHERE h.label = z.name)"
    " AND NOT EXISTS (SELECT 1 FROM withdrawals AS w WHERE lower(w.name) = z.name)"
    " ON CONFLICT DO NOTHING",
    "UPDATE accounts SET maybe_published = 1 WHERE NOT EXISTS (" KESTROME_OLDER_TWIN
    ") AND NOT EXISTS (" KESTROME_ZONES_OWN("lower(accounts.name)") ") AND published_address !="
    " COALESCE((SELECT z.addresses FROM zone_names AS z WHERE z.name = lower(accounts.name)), '')",
    "UPDATE hosts SET maybe_published = 1 WHERE NOT EXISTS (" KESTROME_ZONES_OWN(
        "hosts.label") ") AND published_address != COALESCE((SELECT z.addresses"
                       " FROM zone_names AS z WHERE z.name = hosts.label), '')",
};

// The schema step that gives each name to the oldest of its twins: the
// younger ones are noted as never published (removing them withdraws
// nothing), and the oldest is sent again, over whatever a younger one put
// there.
inline constexpr const char* kTwinsToTheOldest[] = {
    "UPDATE accounts SET maybe_published = 1 WHERE NOT EXISTS (" KESTROME_OLDER_TWIN
    ") AND EXISTS (SELECT 1 FROM accounts AS y WHERE lower(y.name) = lower(accounts.name)"
    " AND y.created > accounts.created)",
    "UPDATE accounts SET published_address = '', maybe_published = 0 WHERE EXISTS "
    "(" KESTROME_OLDER_TWIN ")",
};

// PostgreSQL's schema step that gives each account that is the oldest of
// its name in any case that name in lower case, as its unique DNS name.
inline constexpr const char* kDnsNamesOfTheOldest =
    "UPDATE accounts SET dns_name = lower(name) WHERE NOT EXISTS (" KESTROME_OLDER_TWIN ")";

// Every name whose records differ, or may differ, from what they should show:
// the removed names still to withdraw (kind 0), then each host (the login's
// own, then the others) whose wanted addresses (none when its account is
// banned) are not the published ones, or that may hold what an update whose
// answer never came put there.
#define KESTROME_WANTED(banned, v4, v6)                                          \
    "CASE WHEN " banned " THEN '' ELSE " v4 " || CASE WHEN " v4 " != '' AND " v6 \
    " != '' THEN ',' ELSE '' END || " v6 " END"
#define KESTROME_WANTED_OWN KESTROME_WANTED("banned", "last_address", "last_address6")
#define KESTROME_WANTED_HOST KESTROME_WANTED("a.banned", "h.last_address", "h.last_address6")
inline constexpr const char* kPendingPublications =
    "SELECT name, address FROM ("
    "SELECT 0 AS kind, name, '' AS address FROM withdrawals UNION ALL"
    " SELECT 1, name, " KESTROME_WANTED_OWN
    " FROM accounts"
    " WHERE (" KESTROME_WANTED_OWN
    " != published_address"
    " OR maybe_published != 0) AND NOT EXISTS (" KESTROME_OLDER_TWIN
    ")"
    " AND NOT EXISTS (" KESTROME_ZONES_OWN("lower(accounts.name)") ") UNION ALL"
    " SELECT 2, h.label, " KESTROME_WANTED_HOST
    " FROM hosts AS h JOIN accounts AS a ON a.name = h.account"
    " WHERE (" KESTROME_WANTED_HOST
    " != h.published_address OR h.maybe_published != 0)"
    " AND NOT EXISTS (" KESTROME_ZONES_OWN("h.label") ")) AS pending";

#undef KESTROME_WANTED_HOST
#undef KESTROME_WANTED_OWN
#undef KESTROME_WANTED
#undef KESTROME_OLDER_TWIN
#undef KESTROME_ZONES_OWN

}  // namespace service::sql
