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

inline constexpr const char* kAccountColumns =
    "SELECT name, password_hash, banned, last_address, last_update, published_address,"
    " COALESCE((" KESTROME_OLDER_TWIN
    " ORDER BY t.created LIMIT 1), ''),"
    " EXISTS (" KESTROME_ZONES_OWN("lower(accounts.name)") "), last_address6, token_hash,"
    " COALESCE((SELECT key FROM token_key), '')"
    " FROM accounts";

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

// What an update records: each family's address when the update gives it
// (its flag is '1'), and the time.
#define KESTROME_RECORD(name, v4, v6, when, setV4, setV6)                        \
    "UPDATE accounts SET last_address = CASE WHEN " setV4 " = '1' THEN " v4      \
    " ELSE last_address END, last_address6 = CASE WHEN " setV6 " = '1' THEN " v6 \
    " ELSE last_address6 END, last_update = " when " WHERE name = " name
inline constexpr const char* kSqliteRecord =
    KESTROME_RECORD("?1", "?2", "?3", "?4", "?5", "?6") " AND password_hash = ?7 AND banned = 0";
inline constexpr const char* kPostgresRecord =
    KESTROME_RECORD("$1", "$2", "$3", "$4", "$5", "$6") " AND password_hash = $7 AND NOT banned";
#undef KESTROME_RECORD

// Whether a new login (the statement's first parameter) is free: no account
// has it in any case, and the zone does not hold it.
#define KESTROME_LOGIN_FREE(param)                                               \
    " WHERE NOT EXISTS (SELECT 1 FROM accounts WHERE lower(name) = lower(" param \
    ")) AND NOT EXISTS (" KESTROME_ZONES_OWN("lower(" param ")") ")"
inline constexpr const char* kSqliteLoginFree = KESTROME_LOGIN_FREE("?1");
inline constexpr const char* kPostgresLoginFree = KESTROME_LOGIN_FREE("$1");
#undef KESTROME_LOGIN_FREE

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
    " OR a.maybe_published != 0)) OR EXISTS (SELECT 1 FROM withdrawals AS w"
    " WHERE lower(w.name) = zone_names.name))",
    "INSERT INTO withdrawals(name) SELECT z.name FROM zone_names AS z WHERE z.own = 0"
    " AND NOT EXISTS (SELECT 1 FROM accounts AS a WHERE lower(a.name) = z.name)"
    " AND NOT EXISTS (SELECT 1 FROM withdrawals AS w WHERE lower(w.name) = z.name)"
    " ON CONFLICT DO NOTHING",
    "UPDATE accounts SET maybe_published = 1 WHERE NOT EXISTS (" KESTROME_OLDER_TWIN
    ") AND NOT EXISTS (" KESTROME_ZONES_OWN("lower(accounts.name)") ") AND published_address !="
    " COALESCE((SELECT z.addresses FROM zone_names AS z WHERE z.name = lower(accounts.name)), '')",
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
// the removed names still to withdraw (kind 0), then each account whose
// wanted addresses (none when banned) are not the published ones, or that may
// hold what an update whose answer never came put there.
#define KESTROME_WANTED                                                          \
    "CASE WHEN banned THEN '' ELSE last_address || CASE WHEN last_address != ''" \
    " AND last_address6 != '' THEN ',' ELSE '' END || last_address6 END"
inline constexpr const char* kPendingPublications =
    "SELECT name, address FROM ("
    "SELECT 0 AS kind, name, '' AS address FROM withdrawals UNION ALL"
    " SELECT 1, name, " KESTROME_WANTED
    " FROM accounts"
    " WHERE (" KESTROME_WANTED
    " != published_address"
    " OR maybe_published != 0) AND NOT EXISTS (" KESTROME_OLDER_TWIN
    ")"
    " AND NOT EXISTS (" KESTROME_ZONES_OWN("lower(accounts.name)") ")) AS pending";

#undef KESTROME_WANTED
#undef KESTROME_OLDER_TWIN
#undef KESTROME_ZONES_OWN

}  // namespace service::sql
