#include "platform/net/internet_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/scripted_http_server.h"

using platform::InternetSession;
using testsupport::Connection;
using testsupport::ScriptedHttpServer;

namespace {

constexpr platform::InternetTimeouts kShortTimeouts{500, 1500};

class InternetSessionTest : public ::testing::Test {
protected:
    ScriptedHttpServer server;
    std::unique_ptr<InternetSession> session =
        InternetSession::Open("Kestrome v1.2", kShortTimeouts);

    std::string Url(const std::string& path = "/process.php?login=a&password=b") {
        return "http://" + server.HostPort() + path;
    }

    // Opens the URL and reads up to 18 bytes; nullopt when the open failed.
    struct Outcome {
        bool opened = false;
        bool readOk = false;
        std::string body;
    };
    Outcome Exchange(const std::string& url) {
        Outcome out;
        auto request = session->OpenUrl(url, 18);
        out.opened = request != nullptr;
        if (request) {
            char buf[18];
            std::size_t n = 99;
            out.readOk = request->Read(buf, sizeof buf, n);
            out.body.assign(buf, n);
        }
        return out;
    }
};

TEST_F(InternetSessionTest, ReadsAnEighteenByteReplyAndSendsTheAgent) {
    server.ReplyWith("100123.123.123.123");
    auto out = Exchange(Url());
    EXPECT_TRUE(out.opened);
    EXPECT_TRUE(out.readOk);
    EXPECT_EQ(out.body, "100123.123.123.123");
    ASSERT_EQ(server.Heads().size(), 1u);
    EXPECT_NE(server.Heads()[0].find("GET /process.php?login=a&password=b HTTP/1.1"),
              std::string::npos);
    EXPECT_NE(server.Heads()[0].find("User-Agent: Kestrome v1.2\r\n"), std::string::npos);
}

TEST_F(InternetSessionTest, LongBodyIsReadOnlyUpToTheRequestedSizeAndTheTransferStops) {
    bool clientClosedEarly = false;
    server.SetScript([&](Connection& c) {
        c.ReadRequest();
        std::string big(10 * 1024 * 1024, 'x');
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size() + 3) +
               "\r\n\r\n100");
        clientClosedEarly = !c.Send(big);
    });
    auto out = Exchange(Url());
    EXPECT_TRUE(out.readOk);
    EXPECT_EQ(out.body, "100" + std::string(15, 'x'));
    server.ReplyWith("done");  // waits for the script above to finish
    Exchange(Url());
    EXPECT_TRUE(clientClosedEarly) << "the rest of the body must not be downloaded";
}

TEST_F(InternetSessionTest, EmptyBodyAndErrorStatusAreReadLikeAnyReply) {
    server.ReplyWith("");
    auto empty = Exchange(Url());
    EXPECT_TRUE(empty.opened && empty.readOk);
    EXPECT_EQ(empty.body, "");
    server.ReplyWith("<html>Internal error</html>", 500);
    auto error = Exchange(Url());
    EXPECT_TRUE(error.opened && error.readOk);
    EXPECT_EQ(error.body, "<html>Internal err");
}

TEST_F(InternetSessionTest, FollowsARedirect) {
    server.SetScript([&](Connection& c) {
        c.ReadRequest();
        server.RecordRequest(c);
        if (c.Target().starts_with("/moved")) {
            c.Reply("100 moved here");
        } else {
            c.Reply("", 302, "Location: /moved\r\n");
        }
    });
    auto out = Exchange(Url());
    EXPECT_EQ(out.body, "100 moved here");
    EXPECT_EQ(server.Targets().size(), 2u);
}

TEST_F(InternetSessionTest, RedirectsLeadToHttpsButToNoOtherSchemeAndNoCacheAnswers) {
    ScriptedHttpServer elsewhere;
    elsewhere.SetScript([&](Connection& c) {
        c.ReadRequest();
        elsewhere.RecordRequest(c);
    });
    server.SetScript([&](Connection& c) {
        c.ReadRequest();
        server.RecordRequest(c);
        const char* scheme = c.Target().ends_with("ftp") ? "ftp" : "https";
        c.Reply("", 302,
                std::string("Location: ") + scheme + "://" + elsewhere.HostPort() + "/\r\n");
    });
    EXPECT_FALSE(Exchange(Url("/process.php?to=ftp")).opened);
    EXPECT_FALSE(Exchange(Url("/process.php?to=https")).opened) << "nothing speaks TLS there";
    for (int i = 0; i < 300 && elsewhere.Heads().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(elsewhere.Heads().size(), 1u) << "only the https redirect is followed";
    EXPECT_EQ(elsewhere.Heads()[0].substr(0, 1), "\x16") << "the client began a TLS handshake";
    for (const std::string& head : server.Heads()) {
        EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
        EXPECT_NE(head.find("\r\nPragma: no-cache\r\n"), std::string::npos);
    }
}

TEST_F(InternetSessionTest, RedirectLoopFailsTheOpen) {
    server.SetScript([&](Connection& c) {
        c.ReadRequest();
        c.Reply("", 302, "Location: /again\r\n");
    });
    EXPECT_FALSE(Exchange(Url()).opened);
}

TEST_F(InternetSessionTest, RefusedPortFailsTheOpen) {
    int port = 0;
    {
        ScriptedHttpServer gone;
        port = gone.Port();
    }
    EXPECT_FALSE(Exchange("http://127.0.0.1:" + std::to_string(port) + "/").opened);
}

TEST_F(InternetSessionTest, ConnectionClosedAfterTheHeaderIsAFailedRead) {
    server.SetScript([](Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n10");
        c.Reset();
    });
    auto out = Exchange(Url());
    EXPECT_TRUE(out.opened);
    EXPECT_FALSE(out.readOk);
    EXPECT_EQ(out.body, "");
}

TEST_F(InternetSessionTest, SilentServerFailsTheOpenWithinTheTimeout) {
    server.SetScript([](Connection& c) {
        c.ReadRequest();
        c.WaitForClientClose(5000);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Exchange(Url()).opened);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(kShortTimeouts.totalMs + 2000));
}

TEST_F(InternetSessionTest, ServerThatIsNotHttpFailsTheOpen) {
    server.SetScript([](Connection& c) {
        c.ReadRequest();
        c.Send("SSH-2.0-nonsense\r\n");
    });
    EXPECT_FALSE(Exchange(Url()).opened);
}

// A name with an IPv4 and an IPv6 address is reached over IPv4, whose address
// fits the reply; over IPv6 only when nothing answers on IPv4.
TEST(DualStackTest, IPv4IsChosenAndIPv6IsTheFallback) {
    ScriptedHttpServer v4("127.0.0.1");
    ScriptedHttpServer v6("::1", v4.Port());
    ScriptedHttpServer v6Only("::1");
    auto both = [](int port) { return "dual.test:" + std::to_string(port) + ":[::1],127.0.0.1"; };
    auto session = InternetSession::Open("Kestrome v1.2", kShortTimeouts,
                                         {both(v4.Port()), both(v6Only.Port())});
    auto body = [&](int port) {
        auto request = session->OpenUrl("http://dual.test:" + std::to_string(port) + "/", 18);
        char buf[18];
        std::size_t n = 0;
        return request && request->Read(buf, sizeof buf, n) ? std::string(buf, n) : "failed";
    };
    EXPECT_EQ(body(v4.Port()), "100127.0.0.1");
    EXPECT_EQ(body(v6Only.Port()), "100::1") << "nothing listens on 127.0.0.1 there";
}

}  // namespace
