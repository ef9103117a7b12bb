#include "service/account/web_session.h"

#include <string_view>

#include "service/account/pages.h"

namespace service {

namespace {

std::string Attributes(bool https) {
    return std::string("; Path=") + kAccountPath + "; HttpOnly; SameSite=Strict" +
           (https ? "; Secure" : "");
}

}  // namespace

// Cookies are "name=value" pairs split by "; "; the first of the name counts.
std::string SessionIdOf(const std::string& cookies) {
    const std::string name = std::string(kSessionCookie) + "=";
    std::size_t start = 0;
    while (start < cookies.size()) {
        const std::size_t end = std::min(cookies.find(';', start), cookies.size());
        std::string_view pair = std::string_view(cookies).substr(start, end - start);
        while (!pair.empty() && pair.front() == ' ') {
            pair.remove_prefix(1);
        }
        if (pair.starts_with(name)) {
            return std::string(pair.substr(name.size()));
        }
        start = end + 1;
    }
    return "";
}

std::string SessionCookie(const std::string& id, bool https) {
    return std::string(kSessionCookie) + "=" + id + Attributes(https);
}

std::string EndedSessionCookie(bool https) {
    return std::string(kSessionCookie) + "=; Max-Age=0" + Attributes(https);
}

bool FromElsewhere(const std::string& origin, const std::string& fetchSite, const std::string& host,
                   bool https) {
    const bool ownOrigin =
        origin.empty() || origin == "null" || origin == (https ? "https://" : "http://") + host;
    return !ownOrigin || (!fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none");
}

}  // namespace service
