// The account page's HTML: server-rendered, one stylesheet, no script. Every
// text that comes from an account or a request is escaped here.
#pragma once

#include <string>
#include <string_view>

#include "service/store/account_store.h"

namespace service {

inline constexpr const char* kAccountPath = "/account/";
inline constexpr const char* kStylesheetPath = "/account/style.css";

// Text for HTML element content and quoted attribute values.
std::string HtmlEscape(std::string_view text);

// What the sign-in page says besides its form.
struct SignInPage {
    std::string notice;       // a refusal to tell, or empty
    bool needsHttps = false;  // over plain HTTP from afar: no password is taken
    std::string login;        // the login to fill in again
};
std::string SignInHtml(const SignInPage& page);

// The overview of a signed-in account: the visitor's address, each host and
// what DNS holds of it, and the forms that change them, the password or the
// session (each with formToken, which proves the session).
struct Overview {
    const Account& account;  // with its hosts
    std::string zone;        // as ZoneName gives it; empty when DNS is not kept
    std::string visitor;     // the visitor's address as the service sees it
    std::string formToken;
};
std::string OverviewHtml(const Overview& page);

// The page that asks whether to remove a host.
std::string ConfirmRemovalHtml(const std::string& label, const std::string& zone,
                               const std::string& formToken);

// A host's new token, shown once, with a ddclient and an inadyn
// configuration and a router's update URL that use it.
struct TokenPage {
    std::string login;
    std::string label;
    std::string zone;
    std::string token;
    std::string server;  // the Host the page was reached at
    bool https = false;
};
std::string TokenHtml(const TokenPage& page);

// A page that only tells something, with a way back to the overview.
std::string MessageHtml(const std::string& title, const std::string& text);

std::string Stylesheet();

}  // namespace service
