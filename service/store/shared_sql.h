// SQL that both stores run as it stands.
#pragma once

namespace service::sql {

// An account that another, created before it, names the same regardless of
// case (from before such names were refused): DNS has room for one of them.
#define KESTROME_OLDER_TWIN                                                       \
    "SELECT t.name FROM accounts AS t WHERE lower(t.name) = lower(accounts.name)" \
    " AND t.created < accounts.created"

inline constexpr const char* kAccountColumns =
    "SELECT name, password_hash, banned, last_address, last_update, published_address,"
    " COALESCE((" KESTROME_OLDER_TWIN
    " ORDER BY t.created LIMIT 1), '')"
    " FROM accounts";

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

// Every name whose records differ, or may differ, from what they should show:
// the removed names still to withdraw (kind 0), then each account whose
// wanted address (none when banned) is not the published one, or that may
// hold what an update whose answer never came put there.
inline constexpr const char* kPendingPublications =
    "SELECT name, address FROM ("
    "SELECT 0 AS kind, name, '' AS address FROM withdrawals UNION ALL"
    " SELECT 1, name, CASE WHEN banned THEN '' ELSE last_address END FROM accounts"
    " WHERE (CASE WHEN banned THEN '' ELSE last_address END != published_address"
    " OR maybe_published != 0) AND NOT EXISTS (" KESTROME_OLDER_TWIN ")) AS pending";

#undef KESTROME_OLDER_TWIN

}  // namespace service::sql
