// The account page through the real service: in a real headless Chromium
// (driven by account_browser.py) with a real name server, and at the HTTP
// level for what a browser would never send.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/published_service.h"

using namespace testsupport;

namespace {

class AccountPageTest : public PublishedServiceTest {
protected:
    std::vector<std::string> BeforeStart() override {
        EXPECT_EQ(RunServiceCommand(db, "host add joe nas").status, 0);
        client.TrustOnly(certificate.ca);
        return {"--trust-proxy", "127.0.0.1"};
    }
    std::string Base(bool tls = false) const {
        return tls ? "https://127.0.0.1:" + std::to_string(tlsPort)
                   : "http://" + service->HostPort();
    }
    // The overview as a browser with the cookie set by a sign-in sees it.
    std::string Overview(const std::string& cookie) {
        HttpClient browser;
        browser.AddHeader("Cookie: " + cookie.substr(0, cookie.find(';')));
        return browser.Get(Base() + "/account/").value_or("no reply");
    }
};

// A user signs in, sees each host with its address and what DNS holds, adds
// one, takes its token and updates it, sets an address by hand, removes a
// host, changes the password and signs out, in a browser, with every page
// passing the accessibility audit.
TEST_F(AccountPageTest, ABrowserSignsInSeesItsHostsAndSignsOut) {
    const std::string axe = KESTROME_SOURCE_DIR "/.deps/npm/node_modules/axe-core/axe.min.js";
    if (access("/usr/bin/chromedriver", X_OK) != 0 || access(axe.c_str(), R_OK) != 0) {
        GTEST_SKIP() << "Chromium, its driver or axe-core is missing (scripts/install-deps)";
    }
    ASSERT_EQ(client.Get("http://joe:pw@" + service->HostPort() +
                         "/nic/update?hostname=joe.example.test,nas.example.test&myip=192.0.2.10"),
              "good 192.0.2.10\ngood 192.0.2.10");
    ASSERT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.10", 2));
    // KESTROME_SHOTS keeps the screenshots where one can look at them.
    const char* keep = std::getenv("KESTROME_SHOTS");
    const std::string shots = keep != nullptr ? keep : dir.File("shots");
    CommandOutput("mkdir -p " + shots);
    const std::string run = CommandOutput(
        "/usr/bin/python3 " KESTROME_SOURCE_DIR "/tests/e2e/account_browser.py " + Base() +
        " joe pw pw2 " + axe + " " + shots +
        " joe.example.test nas.example.test 192.0.2.10 published 'set 20' 2>&1; echo exit=$?");
    EXPECT_NE(run.find("exit=0"), std::string::npos) << run;
    EXPECT_EQ(run.find("fail:"), std::string::npos) << run;
    EXPECT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.10\nAAAA 60 2001:db8::7", 2));
    EXPECT_TRUE(knot.WaitFor("box", "", 2)) << "a host removed on the page is withdrawn";
    EXPECT_EQ(client.Get("http://joe:pw@" + service->HostPort() +
                         "/nic/update?hostname=nas.example.test"),
              "badauth")
        << "the old password";
}

// Forms from another site, or without the session's form token, change
// nothing; every sign-in gives a new id; the cookie is Secure over TLS only.
TEST_F(AccountPageTest, FormsFromElsewhereOrWithoutTheirTokenChangeNothing) {
    long status = 0;
    client.AddHeader("Origin: http://attacker.example");
    client.Post(Base() + "/account/sign-in", "login=joe&password=pw", &status);
    EXPECT_EQ(status, 403);
    EXPECT_EQ(client.Head().find("Set-Cookie"), std::string::npos);

    HttpClient own;
    own.TrustOnly(certificate.ca);
    const auto signIn = [&](bool tls) {
        own.Post(Base(tls) + "/account/sign-in", "login=joe&password=pw", &status);
        const std::string& head = own.Head();
        const std::size_t at = head.find("Set-Cookie: ");
        return at == std::string::npos ? "" : head.substr(at + 12, head.find('\r', at) - at - 12);
    };
    const std::string cookie = signIn(false);
    EXPECT_NE(cookie.find("; Path=/account/; HttpOnly; SameSite=Strict"), std::string::npos)
        << cookie;
    EXPECT_EQ(cookie.find("Secure"), std::string::npos) << cookie;
    EXPECT_NE(signIn(false), cookie) << "a new id at every sign-in";
    EXPECT_NE(signIn(true).find("; Secure"), std::string::npos);
    const std::string page = Overview(cookie);
    EXPECT_NE(page.find("Signed in as <strong>joe</strong>"), std::string::npos) << page;
    const std::size_t token = page.find("name=\"form\" value=\"");
    ASSERT_NE(token, std::string::npos);
    const std::string form = page.substr(token + 19, 32);

    HttpClient forger;
    forger.AddHeader("Cookie: " + cookie.substr(0, cookie.find(';')));
    forger.Post(Base() + "/account/sign-out", "form=" + std::string(32, 'A'), &status);
    EXPECT_EQ(status, 403) << "a wrong form token";
    forger.AddHeader("Origin: null");
    forger.AddHeader("Sec-Fetch-Site: cross-site");
    forger.Post(Base() + "/account/sign-out", "form=" + form, &status);
    EXPECT_EQ(status, 403) << "another site's form, its origin withheld";
    HttpClient elsewhere;
    elsewhere.AddHeader("Cookie: " + cookie.substr(0, cookie.find(';')));
    elsewhere.AddHeader("Origin: http://attacker.example");
    elsewhere.Post(Base() + "/account/sign-out", "form=" + form, &status);
    EXPECT_EQ(status, 403) << "another site's form";
    EXPECT_NE(Overview(cookie).find("Signed in as"), std::string::npos) << "still signed in";

    HttpClient body;
    body.Post(Base() + "/nic/update", "hostname=joe", &status);
    EXPECT_EQ(status, 413) << "bodies go to the account page only";
    body.Post(Base() + "/account/sign-in", "login=joe&password=" + std::string(9000, 'x'), &status);
    EXPECT_EQ(status, 413);
}

// Guesses on the form count against their address as wrong update passwords
// do, and a wrong login reads as a wrong password; another address still
// signs in, and updates from the guesser's address are refused meanwhile.
TEST_F(AccountPageTest, GuessesOnTheFormAreLimitedByAddressAndReadAlike) {
    HttpClient guesser("127.0.0.2");
    std::string last;
    for (int i = 0; i < 25; ++i) {
        last = guesser
                   .Post(Base() + "/account/sign-in",
                         i % 2 == 0 ? "login=joe&password=guess" : "login=nobody&password=pw")
                   .value_or("");
        if (i < 2) {
            EXPECT_NE(last.find("The login or password is wrong."), std::string::npos) << last;
        }
    }
    EXPECT_NE(last.find("Too many failed attempts from your address"), std::string::npos) << last;
    long status = 0;
    guesser.Get("http://joe:pw@" + service->HostPort() + "/nic/update?hostname=joe.example.test",
                &status);
    EXPECT_EQ(status, 429) << "one limit for the form and the updates";
    HttpClient other("127.0.0.3");
    other.Post(Base() + "/account/sign-in", "login=joe&password=pw", &status);
    EXPECT_EQ(status, 303);
}

// What DNS holds of each host is told in words, a refusal with its reason.
TEST_F(AccountPageTest, ANameServersRefusalIsToldWithItsReason) {
    ASSERT_EQ(RunServiceCommand(db, std::string("host add joe ") + kLockedLabel).status, 0);
    ASSERT_EQ(
        client.Get("http://joe:pw@" + service->HostPort() +
                   "/nic/update?hostname=nas.example.test,locked.example.test&myip=192.0.2.3"),
        "good 192.0.2.3\ngood 192.0.2.3");
    ASSERT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.3", 2));
    HttpClient own;
    own.Post(Base() + "/account/sign-in", "login=joe&password=pw");
    const std::string head = own.Head();
    const std::size_t at = head.find("Set-Cookie: ");
    ASSERT_NE(at, std::string::npos) << head;
    std::string page;
    for (int i = 0; i < 50 && page.find("failed: ") == std::string::npos; ++i) {
        page = Overview(head.substr(at + 12, head.find('\r', at) - at - 12));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(page.find("nas.example.test</th><td><span class=\"cell\">IPv4: </span>192.0.2.3"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<td><span class=\"cell\">DNS: </span>failed: the name server refused"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<td><span class=\"cell\">DNS: </span>published</td>"), std::string::npos);
}

// From afar over plain HTTP the sign-in form takes no password; through a
// trusted proxy that says https it does.
TEST_F(AccountPageTest, APasswordIsTakenOverHttpsOrFromThisMachineOnly) {
    client.AddHeader("X-Forwarded-For: 192.0.2.7");
    const std::string plain = client.Get(Base() + "/account/").value_or("");
    EXPECT_EQ(plain.find("type=\"password\""), std::string::npos) << plain;
    EXPECT_NE(plain.find("Open it over HTTPS"), std::string::npos) << plain;
    long status = 0;
    client.Post(Base() + "/account/sign-in", "login=joe&password=pw", &status);
    EXPECT_EQ(status, 403);
    client.AddHeader("X-Forwarded-Proto: https");
    EXPECT_NE(client.Get(Base() + "/account/").value_or("").find("type=\"password\""),
              std::string::npos);
    client.Post(Base() + "/account/sign-in", "login=joe&password=pw", &status);
    EXPECT_EQ(status, 303);
    EXPECT_NE(client.Head().find("; Secure"), std::string::npos) << client.Head();
}

}  // namespace
