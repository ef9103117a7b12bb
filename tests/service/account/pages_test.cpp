// The account page's HTML and cookies: whatever an account or a request
// holds reaches the page as text, never as markup; the session cookie is
// found among others and set with its guards.
#include <gtest/gtest.h>

#include "service/account/pages.h"
#include "service/account/web_session.h"

using namespace service;

namespace {

TEST(AccountPagesTest, TextFromTheAccountIsEscapedEverywhere) {
    Account account;
    account.name = "<script>x</script>";
    account.lastAddress = "192.0.2.1";
    account.v4At = 1;
    account.v4From = "\"><img src=x>";
    Host host;
    host.label = "nas";
    host.lastAddress6 = "2001:db8::1";
    host.publishFailure = "refused <b>'";
    account.hosts.push_back(host);
    const std::string page = OverviewHtml({account, "example.test.", "<i>visitor</i>", "\"><ft"}) +
                             SignInHtml({"<u>notice</u>", false, "\"><x"}) +
                             MessageHtml("<t>", "<m>") +
                             ConfirmRemovalHtml("<l>", "example.test.", "t") +
                             TokenHtml({"<login>", "nas", "example.test.", "tok<", "<host>", true});
    for (const char* markup : {"<script", "<img", "<b>", "<i>", "<u>", "\"><x", "<t>", "<m>", "<l>",
                               "<login>", "tok<", "<host>", "\"><ft"}) {
        EXPECT_EQ(page.find(markup), std::string::npos) << markup;
    }
    EXPECT_NE(page.find("&lt;script&gt;x&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("failed: refused &lt;b&gt;&#39;"), std::string::npos) << page;
    EXPECT_NE(page.find("nas.example.test"), std::string::npos);
}

TEST(AccountPagesTest, TheSessionCookieIsFoundAndGuarded) {
    EXPECT_EQ(SessionIdOf("a=1; kestrome_session=abc; kestrome_session=def"), "abc");
    EXPECT_EQ(SessionIdOf("xkestrome_session=abc"), "");
    EXPECT_EQ(SessionIdOf(""), "");
    EXPECT_EQ(SessionCookie("abc", true),
              "kestrome_session=abc; Path=/account/; HttpOnly; SameSite=Strict; Secure");
    EXPECT_EQ(EndedSessionCookie(false),
              "kestrome_session=; Max-Age=0; Path=/account/; HttpOnly; SameSite=Strict");
    EXPECT_FALSE(FromElsewhere("", "", "h:1", false));
    EXPECT_FALSE(FromElsewhere("null", "same-origin", "h:1", false));
    EXPECT_FALSE(FromElsewhere("https://h:1", "", "h:1", true));
    EXPECT_TRUE(FromElsewhere("http://h:1", "", "h:1", true)) << "another scheme";
    EXPECT_TRUE(FromElsewhere("null", "cross-site", "h:1", false));
    EXPECT_TRUE(FromElsewhere("", "same-site", "h:1", false)) << "a neighbour's page";
}

}  // namespace
