// The account page's session cookie and the checks that keep its forms from
// being forged: the cookie's value, how it is set and ended, and whether a
// request's Origin is the page's own.
#pragma once

#include <string>

namespace service {

inline constexpr const char* kSessionCookie = "kestrome_session";

// The session id in a request's Cookie fields; empty when there is none.
std::string SessionIdOf(const std::string& cookies);

// The Set-Cookie value that gives a browser session id, kept to the account
// page, out of scripts' reach, never sent from another site, and over TLS
// only when the page was reached over TLS; and the one that ends it.
std::string SessionCookie(const std::string& id, bool https);
std::string EndedSessionCookie(bool https);

// Whether a request may come from another site: its Origin (empty: none
// sent; "null": withheld, as browsers do under the page's no-referrer
// policy) is not the page's own scheme and Host, or its Sec-Fetch-Site says
// another site sent it.
bool FromElsewhere(const std::string& origin, const std::string& fetchSite, const std::string& host,
                   bool https);

}  // namespace service
