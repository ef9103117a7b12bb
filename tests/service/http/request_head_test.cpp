// Request heads: what each amounts to, and what a complete one carries.
#include <gtest/gtest.h>

#include "service/http/request_head.h"

using namespace service;

namespace {

// What each head amounts to, decided from the head alone and never by
// buffering more than one head's worth; the HTTP/1.1 cases end as the RFCs
// (9110, 9112) say.
TEST(HttpRequestTest, HeadsAreReadOrRefusedByWhatTheyCarry) {
    const std::string longLine = "GET /" + std::string(kMaxHeadBytes, 'a') + " HTTP/1.1\r\n";
    const char withNul[] = "GET / HTTP/1.1\r\nHost: x\r\nX: a\0b\r\n\r\n";
    std::string manyHeaders = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (std::size_t i = 0; i < kMaxHeaderLines; ++i) {
        manyHeaders += "X: y\r\n";
    }
    const struct {
        std::string head;
        HeadResult result;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n", HeadResult::Incomplete},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", HeadResult::Complete},
        {"\r\n\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n", HeadResult::Complete},
        {"GET / HTTP/1.1\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.0\r\n\r\n", HeadResult::Complete},
        {"GET / HTTP/1.1\r\nHost: x\r\nX: a\rb\r\n\r\n", HeadResult::Malformed},
        {std::string(withNul, sizeof withNul - 1), HeadResult::Malformed},
        {"GARBAGE\r\n\r\n", HeadResult::Malformed},
        {"GET x HTTP/1.1\r\nHost: x\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 1x\r\n\r\n", HeadResult::Malformed},
        {"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", HeadResult::Complete},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 512000000\r\n\r\n", HeadResult::HasBody},
        {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", HeadResult::HasBody},
        {"GET / HTTP/1.2\r\nHost: x\r\n\r\n", HeadResult::Complete},
        {"GET / HTTP/2.0\r\nHost: x\r\n\r\n", HeadResult::UnsupportedVersion},
        {"GET / HTTP/0.9\r\n\r\n", HeadResult::UnsupportedVersion},
        {"GET / HTTP/0.1\r\nHost: x\r\n\r\n", HeadResult::UnsupportedVersion},
        {longLine, HeadResult::LineTooLong},
        {manyHeaders + "X: y\r\n\r\n", HeadResult::HeadTooLarge},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a'), HeadResult::HeadTooLarge},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        std::size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(c.head, request, consumed), c.result) << c.head.substr(0, 60);
    }
}

// A head that arrives in two reads, cut anywhere (between the two bytes of
// the last line ending too), is complete once the second has come: what the
// first was searched for is not searched again, and nothing is missed.
TEST(HttpRequestTest, AHeadCutAnywhereIsCompleteWhenItsRestArrives) {
    const std::string head = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    for (std::size_t cut = 1; cut < head.size(); ++cut) {
        HttpRequest request;
        std::size_t searched = 0;
        ASSERT_EQ(ParseRequestHead(head.substr(0, cut), request, searched), HeadResult::Incomplete)
            << cut;
        std::size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(head, request, consumed, searched), HeadResult::Complete)
            << "cut at " << cut;
        EXPECT_EQ(consumed, head.size()) << cut;
    }
}

// A form body is read on the account page's routes only, whole, of a known
// length up to the bound and of the form type; with the fields those pages
// read.
TEST(HttpRequestTest, AFormIsReadOnTheAccountRoutesOnly) {
    const auto post = [](const std::string& path, const std::string& fields,
                         const std::string& body) {
        return "POST " + path + " HTTP/1.1\r\nHost: x\r\n" + fields +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string full = std::string(kMaxFormBytes, 'a');
    const struct {
        std::string request;
        HeadResult result;
    } cases[] = {
        {post("/account/sign-in", form, "login=joe"), HeadResult::Complete},
        {post("/account/sign-in", form, full), HeadResult::Complete},
        {post("/account/sign-in", form, full + "a"), HeadResult::HasBody},
        {post("/account/sign-in", "Content-Type: text/plain\r\n", "login=joe"),
         HeadResult::NotAForm},
        {post("/nic/update", form, "login=joe"), HeadResult::HasBody},
        {post("/account", form, "login=joe"), HeadResult::HasBody},
        {post("/account/sign-in", form, "login=joe").substr(0, 80), HeadResult::Incomplete},
        {"POST /account/sign-in HTTP/1.1\r\nHost: x\r\n" + form +
             "Transfer-Encoding: chunked\r\n\r\n9\r\nlogin=joe\r\n0\r\n\r\n",
         HeadResult::HasBody},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        std::size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(c.request, request, consumed), c.result)
            << c.request.substr(0, 90);
    }
    HttpRequest r;
    std::size_t consumed = 0;
    const std::string two = post("/account/sign-in",
                                 form +
                                     "Cookie: a=1\r\nCookie: s=2\r\nOrigin: https://x\r\n"
                                     "X-Forwarded-Proto: http, HTTPS\r\n",
                                 "login=joe&x=1") +
                            "GET / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(ParseRequestHead(two, r, consumed), HeadResult::Complete);
    EXPECT_EQ(r.body, "login=joe&x=1");
    EXPECT_EQ(two.substr(consumed), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.cookie, "a=1; s=2");
    EXPECT_EQ(r.origin, "https://x");
    EXPECT_TRUE(r.forwardedHttps) << "the last proxy's word counts";
}

TEST(HttpRequestTest, RequestLineHeadersAndQuery) {
    HttpRequest r;
    std::size_t consumed = 0;
    const std::string two =
        "GET /a%20b?login=j%C3%A9+x&password=p%2B1&login=second HTTP/1.0\r\n"
        "connection: Keep-Alive\r\n\r\nGET / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(ParseRequestHead(two, r, consumed), HeadResult::Complete);
    EXPECT_EQ(two.substr(consumed), "GET / HTTP/1.1\r\n\r\n") << "the next request is left";
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/a b");
    EXPECT_TRUE(r.keepAlive) << "HTTP/1.0 asking to keep the connection";
    EXPECT_EQ(QueryValue(r.query, "login"), "j\xC3\xA9 x") << "the first of two, decoded";
    EXPECT_EQ(QueryValue(r.query, "password"), "p+1");
    EXPECT_EQ(QueryValue(r.query, "absent"), "");
    ASSERT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nHost: x\r\nConnection: close, TE\r\nTE: "
                               "trailers\r\n\r\n",
                               r, consumed),
              HeadResult::Complete);
    EXPECT_FALSE(r.keepAlive) << "close among other connection options";
    ASSERT_EQ(ParseRequestHead("GET / HTTP/1.2\r\nHost: x\r\n\r\n", r, consumed),
              HeadResult::Complete);
    EXPECT_TRUE(r.keepAlive) << "any HTTP/1.x keeps the connection as HTTP/1.1 does";
    ASSERT_EQ(ParseRequestHead("GET HTTP://elsewhere:81/process.php?login=a HTTP/1.1\r\nHost: "
                               "x\r\n\r\n",
                               r, consumed),
              HeadResult::Complete);
    EXPECT_EQ(r.path, "/process.php") << "absolute form";
    EXPECT_EQ(r.query, "login=a");
}

}  // namespace
