// SQL that both stores run as it stands.
#pragma once

namespace service::sql {

inline constexpr const char* kAccountColumns =
    "SELECT name, password_hash, banned, last_address, last_update, published_address"
    " FROM accounts";

// Every name whose records differ, or may differ, from what they should show:
// the removed names still to withdraw (kind 0), then each account whose
// wanted address (none when banned) is not the published one, or that may
// hold what an update whose answer never came put there.
inline constexpr const char* kPendingPublications =
    "SELECT name, address FROM ("
    "SELECT 0 AS kind, name, '' AS address FROM withdrawals UNION ALL"
    " SELECT 1, name, CASE WHEN banned THEN '' ELSE last_address END FROM accounts"
    " WHERE CASE WHEN banned THEN '' ELSE last_address END != published_address"
    " OR maybe_published != 0) AS pending";

}  // namespace service::sql
