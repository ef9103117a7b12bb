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
// what DNS holds of it, and the sign-out form (formToken proves the session).
struct Overview {
    const Account& account;  // with its hosts
    std::string zone;        // as ZoneName gives it; empty when DNS is not kept
    std::string visitor;     // the visitor's address as the service sees it
    std::string formToken;
};
std::string OverviewHtml(const Overview& page);

// A page that only tells something, with a way back to the overview.
std::string MessageHtml(const std::string& title, const std::string& text);

std::string Stylesheet();

}  // namespace service
