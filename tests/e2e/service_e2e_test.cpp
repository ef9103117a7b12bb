// The main dialog against the real update service on 127.0.0.1, and the
// service under load from many clients at once.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "app/updater_harness.h"
#include "service/auth/password_check.h"
#include "service/http/server.h"
#include "support/http_client.h"
#include "support/service_process.h"

using namespace testsupport;

namespace {

class ServiceEndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        db_ = new TempDir();
        const std::string db = db_->File("service.db");
        AddAccount(db, "alice", "secret");
        AddAccount(db, "carol", "pw");
        RunServiceCommand(db, "user ban carol");
        AddAccount(db, "a b&c=d#", "%+? \xC3\xA9");
        service_ = new ServiceProcess(db);
    }
    static void TearDownTestSuite() {
        delete service_;
        delete db_;
    }
    void SetUp() override {
        ASSERT_TRUE(service_->Ready()) << service_->Log();
        h.fakes.services.serviceHost = service_->HostPort();
    }
    // Connects with the given credentials typed into the fields.
    void Connect(const QString& login, const QString& password) {
        h.Run([&] {
            h.Type(res::IDC_LOGIN, login);
            h.Type(res::IDC_PASSWORD, password);
            h.Click(res::IDC_CONNECT);
            status = h.Status();
            address = h.Address();
            connected = h.Connected();
        });
    }
    std::string List() { return RunServiceCommand(db_->File("service.db"), "user list").output; }

    static TempDir* db_;
    static ServiceProcess* service_;
    UpdaterHarness h;
    QString status, address;
    bool connected = false;
};
TempDir* ServiceEndToEndTest::db_ = nullptr;
ServiceProcess* ServiceEndToEndTest::service_ = nullptr;

TEST_F(ServiceEndToEndTest, RightPasswordIsRecordedAndShown) {
    Connect("alice", "secret");
    EXPECT_EQ(status, "Information Updated. \r\n9:5:7 \r\n");
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_TRUE(connected);
    EXPECT_NE(List().find("127.0.0.1"), std::string::npos);
}

TEST_F(ServiceEndToEndTest, RefusalsEndTheConnection) {
    Connect("alice", "wrong");
    EXPECT_EQ(status, "Bad password, check or create new user. \r\n");
    EXPECT_FALSE(connected);
}

TEST_F(ServiceEndToEndTest, UnknownLoginEndsTheConnection) {
    Connect("nobody", "pw");
    EXPECT_EQ(status, "User does not exist, please create one. \r\n");
    EXPECT_FALSE(connected);
}

TEST_F(ServiceEndToEndTest, BannedAccountEndsTheConnection) {
    Connect("carol", "pw");
    EXPECT_TRUE(status.startsWith("User BANNED."));
    EXPECT_FALSE(connected);
}

TEST_F(ServiceEndToEndTest, SpecialCharactersReachTheServiceExactlyAsTyped) {
    Connect("a b&c=d#", QString::fromUtf8("%+? \xC3\xA9"));
    EXPECT_EQ(status, "Information Updated. \r\n9:5:7 \r\n");
    EXPECT_TRUE(connected);
}

// 50 clients at once, 20 requests each, each for its own account.
TEST(ServiceLoadTest, ManyConcurrentClientsAllGetTheirAnswer) {
    constexpr int kClients = 50;
    constexpr int kRequests = 20;
    TempDir dir;
    const std::string db = dir.File("load.db");
    for (int i = 0; i < kClients; ++i) {
        AddAccount(db, "user" + std::to_string(i), "pw" + std::to_string(i));
    }
    ServiceProcess service(db);
    ASSERT_TRUE(service.Ready()) << service.Log();
    std::atomic<int> correct{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            HttpClient client;
            const std::string url = "http://" + service.HostPort() + "/process.php?login=user" +
                                    std::to_string(i) + "&password=pw" + std::to_string(i);
            for (int r = 0; r < kRequests; ++r) {
                if (client.Get(url) == "100127.0.0.1") {
                    ++correct;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(correct, kClients * kRequests);
    const std::string list = RunServiceCommand(db, "user list").output;
    for (int i = 0; i < kClients; ++i) {
        const std::size_t line = list.find("user" + std::to_string(i) + " ");
        ASSERT_NE(line, std::string::npos) << i;
        EXPECT_NE(list.substr(line, list.find('\n', line) - line).find("127.0.0.1"),
                  std::string::npos)
            << "user" << i;
    }
    EXPECT_EQ(service.Stop(), 0) << "SIGTERM stops the service cleanly";
}

TEST(ServiceHttpTest, HomePageAndUnknownPaths) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"));
    ASSERT_TRUE(service.Ready());
    HttpClient client;
    auto get = [&](const std::string& path, long& status) {
        return client.Get("http://" + service.HostPort() + path, &status).value_or("");
    };
    long status = 0;
    EXPECT_NE(get("/", status).find("kestrome-service user add NAME"), std::string::npos);
    EXPECT_EQ(status, 200);
    get("/admin", status);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(get("/process.php", status), "101") << "a missing login is unknown";
    EXPECT_EQ(get("/process.php?login=x&password=secret", status), "101");
    EXPECT_EQ(service.Stop(), 0);  // every line of the log is written by then
    EXPECT_EQ(service.Log().find("secret"), std::string::npos) << "passwords never reach the log";
    EXPECT_NE(service.Log().find("login=\"x\" reply=101"), std::string::npos) << service.Log();
}

// Behind a trusted load balancer, the client's address is the last one the
// balancer added to X-Forwarded-For, an IPv4-mapped one as the IPv4 address;
// an entry that is not one address is refused, never taken as the balancer's;
// anyone else's field is ignored. The balancer may be named in mapped form.
TEST(ServiceHttpTest, ATrustedBalancersForwardedAddressIsTheClients) {
    TempDir dir;
    AddAccount(dir.File("s.db"), "joe", "pw");
    ServiceProcess service(dir.File("s.db"), 0, "127.0.0.1", -1, 0,
                           {"--trust-proxy", "::ffff:127.0.0.1"});
    ASSERT_TRUE(service.Ready()) << service.Log();
    long status = 0;
    const auto update = [&](const char* source, const std::string& forwarded) {
        HttpClient client(source);
        client.AddHeader("X-Forwarded-For: " + forwarded);
        return client
            .Get("http://" + service.HostPort() + "/process.php?login=joe&password=pw", &status)
            .value_or("");
    };
    EXPECT_EQ(update("127.0.0.1", "10.9.8.7, 192.0.2.7"), "100192.0.2.7");
    EXPECT_EQ(update("127.0.0.1", "2001:DB8::0:1"), "1002001:db8::1");
    EXPECT_EQ(update("127.0.0.1", "::ffff:192.0.2.21"), "100192.0.2.21");
    for (const char* entry : {"not an address", "192.0.2.9:4711", "[2001:db8::1]",
                              "[2001:db8::1]:80", "fe80::1%eth0", "unknown", "192.0.2.9,"}) {
        update("127.0.0.1", entry);
        EXPECT_EQ(status, 400) << entry;
    }
    EXPECT_EQ(update("127.0.0.2", "192.0.2.8"), "100127.0.0.2");
    EXPECT_EQ(service.Stop(), 0);
    const std::string log = service.Log();
    EXPECT_NE(log.find(" 192.0.2.7 GET /process.php login=\"joe\" reply=100"), std::string::npos)
        << log;
    EXPECT_NE(log.find(" 192.0.2.21 GET /process.php"), std::string::npos) << log;
    EXPECT_EQ(log.find("127.0.0.1 GET /process.php login=\"joe\" reply=100"), std::string::npos)
        << "a malformed entry was taken as the balancer's own address:\n"
        << log;
    EXPECT_NE(log.find("trusted proxy 127.0.0.1 forwarded \"not an address\", which is not one "
                       "address: answered 400"),
              std::string::npos)
        << log;
    std::size_t notes = 0;
    for (std::size_t at = 0; (at = log.find("which is not one address", at)) != std::string::npos;
         ++at) {
        ++notes;
    }
    EXPECT_LE(notes, 2u) << "told more than once a minute (a minute may turn once):\n" << log;
}

// One request, one line: what a request carries cannot forge a line, and
// only GET records an update.
TEST(ServiceHttpTest, LogLinesCannotBeForgedAndOnlyGetRecordsAnUpdate) {
    TempDir dir;
    const std::string db = dir.File("s.db");
    AddAccount(db, "joe", "pw");
    ServiceProcess service(db);
    ASSERT_TRUE(service.Ready());
    long status = 0;
    const std::string base = "http://" + service.HostPort();
    HttpClient().Get(base + "/x%0A2026-12-07T00:00:00Z%20203.0.113.9%20GET%20%1B%E2%80%AE",
                     &status);
    EXPECT_EQ(status, 404);
    CURL* head = curl_easy_init();
    curl_easy_setopt(head, CURLOPT_URL, (base + "/process.php?login=joe&password=pw").c_str());
    curl_easy_setopt(head, CURLOPT_NOBODY, 1L);
    ASSERT_EQ(curl_easy_perform(head), CURLE_OK);
    curl_easy_getinfo(head, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(head);
    EXPECT_EQ(status, 405);
    EXPECT_EQ(service.Stop(), 0);
    const std::string log = service.Log();
    EXPECT_NE(
        log.find(
            " GET /x\\x0A2026-12-07T00:00:00Z 203.0.113.9 GET \\x1B\\xE2\\x80\\xAE status=404"),
        std::string::npos)
        << log;
    EXPECT_EQ(log.find("\n2026-12-07T00:00:00Z"), std::string::npos) << "a forged line: " << log;
    EXPECT_NE(log.find(" HEAD /process.php login=\"joe\" status=405"), std::string::npos) << log;
    const std::string accounts = RunServiceCommand(db, "user list").output;
    EXPECT_EQ(accounts.find("127.0.0.1"), std::string::npos)
        << "HEAD recorded an update: " << accounts;
}

// Only GET is served: a request with a body is refused, not read into memory.
TEST(ServiceHttpTest, ARequestBodyIsRefused) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"));
    ASSERT_TRUE(service.Ready());
    CURL* post = curl_easy_init();
    curl_easy_setopt(post, CURLOPT_URL, ("http://" + service.HostPort() + "/").c_str());
    curl_easy_setopt(post, CURLOPT_POSTFIELDS, "0123456789");
    curl_easy_setopt(post, CURLOPT_TIMEOUT, 30L);
    ASSERT_EQ(curl_easy_perform(post), CURLE_OK);
    long status = 0;
    curl_easy_getinfo(post, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(post);
    EXPECT_EQ(status, 413);
    EXPECT_EQ(service.Stop(), 0);
}

// A connection from source (an address on 127.0.0.0/8); -1 when it could not
// connect.
int ConnectFrom(const std::string& source, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A connection from source that has sent text; -1 when it could not.
int Sent(const std::string& source, int port, const std::string& text) {
    const int fd = ConnectFrom(source, port);
    if (fd >= 0 &&
        send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

// A connection from source that has sent an unfinished request head.
int SlowConnection(const std::string& source, int port) {
    return Sent(source, port, "GET / HTTP/1.1\r\nX: a");
}

// What the service sends on fd until it closes the connection, or until
// nothing has come for waitMs.
std::string Received(int fd, int waitMs) {
    std::string in;
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n = 1; n > 0 && poll(&p, 1, waitMs) == 1;) {
        if ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            in.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return in;
}

// True when the service has closed fd, waiting at most a few seconds.
bool ClosedByService(int fd, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return poll(&p, 1, waitMs) == 1 && recv(fd, &byte, 1, 0) <= 0;  // closed or reset
}

// Unfinished requests hold nothing but their own connections: with hundreds
// of them open from several addresses a normal client is answered, one
// address cannot open more than its share, and SIGTERM still stops the
// service at once.
TEST(ServiceHttpTest, SlowClientsCannotHoldTheService) {
    TempDir dir;
    const std::string db = dir.File("s.db");
    AddAccount(db, "joe", "pw");
    ServiceProcess service(db);
    ASSERT_TRUE(service.Ready());
    std::vector<int> slow;
    for (int i = 0; i < 300; ++i) {
        slow.push_back(SlowConnection("127.0.1." + std::to_string(1 + i % 3), service.Port()));
        ASSERT_GE(slow.back(), 0) << i;
    }
    const int share = service::ServerLimits{}.maxConnectionsPerAddress;
    for (int i = 0; i < share; ++i) {
        slow.push_back(SlowConnection("127.0.2.1", service.Port()));
    }
    const int overShare = SlowConnection("127.0.2.1", service.Port());
    EXPECT_TRUE(ClosedByService(overShare, 5000)) << "one address over its share";
    EXPECT_FALSE(ClosedByService(slow.back(), 0)) << "the address's own share stays open";
    EXPECT_EQ(
        HttpClient().Get("http://" + service.HostPort() + "/process.php?login=joe&password=pw"),
        "100127.0.0.1");
    EXPECT_EQ(service.Stop(), 0) << "SIGTERM with slow clients connected";
    for (int fd : slow) {
        close(fd);
    }
    close(overShare);
}

// A service with the accounts joe and ann (password pw; ann's hashed at full
// strength, so that guesses at it queue), and a client guessing joe's password
// from 127.0.3.1.
class GuessingTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddAccount(db, "joe", "pw");
        ASSERT_EQ(RunServiceCommand(db, "user add ann", "pw\n").status, 0);
        ASSERT_TRUE(service.Ready());
    }
    // One guess at ann's password from source on each of count new
    // connections, sent all at once.
    std::vector<int> GuessesAtAnn(const std::string& source, int count) {
        std::vector<int> fds;
        for (int i = 0; i < count; ++i) {
            fds.push_back(Sent(source, service.Port(),
                               "GET /process.php?login=ann&password=guess" + std::to_string(i) +
                                   " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
        }
        return fds;
    }
    // How many of fds have an answer waiting, after waiting up to waitMs for
    // the first.
    static int Answered(const std::vector<int>& fds, int waitMs) {
        std::vector<pollfd> polls;
        for (int fd : fds) {
            polls.push_back({fd, POLLIN, 0});
        }
        return std::max(0, poll(polls.data(), polls.size(), waitMs));
    }
    const std::string annUpdate = "/process.php?login=ann&password=pw";

    TempDir dir;
    const std::string db = dir.File("s.db");
    ServiceProcess service{db};
    const std::string update = "http://" + service.HostPort() + "/process.php?login=joe&password=";
    HttpClient guesser{"127.0.3.1"};
};

// An address that keeps failing is answered 429 with an empty body, even
// with the right password, while the account still works from elsewhere.
TEST_F(GuessingTest, AnAddressThatKeepsGuessingIsRefusedAndNoOneElse) {
    long status = 0;
    for (int i = 0; i < service::PasswordCheck::Limits{}.maxFailures; ++i) {
        EXPECT_EQ(guesser.Get(update + "guess" + std::to_string(i), &status), "102");
    }
    EXPECT_EQ(guesser.Get(update + "pw", &status), "");
    EXPECT_EQ(status, 429);
    EXPECT_EQ(HttpClient("127.0.3.2").Get(update + "pw", &status), "100127.0.3.2");
    EXPECT_EQ(status, 200);
}

// Refusals of an address that keeps guessing are logged once a minute, with a
// count of the others, so a flood of them cannot fill the log.
TEST_F(GuessingTest, RepeatedRefusalsAreSummedUpInTheLog) {
    for (int i = 0; i < service::PasswordCheck::Limits{}.maxFailures + 50; ++i) {
        guesser.Get(update + "guess");
    }
    ASSERT_EQ(service.Stop(), 0);
    const std::string log = service.Log();
    const std::string refused = "login=\"joe\" status=429";
    EXPECT_EQ(log.find(refused), log.rfind(refused)) << "one line, not fifty: " << log;
    EXPECT_NE(log.find(refused), std::string::npos) << log;
    EXPECT_NE(log.find("127.0.3.1 49 more requests refused status=429 within a minute"),
              std::string::npos)
        << log;
}

// Guesses sent all at once from one address count from the moment their
// verification starts: exactly the limit are verified, the rest refused.
TEST_F(GuessingTest, GuessesSentAtOnceGetNoMoreThanTheLimit) {
    int verified = 0, refused = 0;
    for (int fd : GuessesAtAnn("127.0.3.1", 60)) {
        const std::string reply = Received(fd, 30000);
        verified += reply.ends_with("\r\n\r\n102");
        refused += reply.starts_with("HTTP/1.1 429 ");
        close(fd);
    }
    EXPECT_EQ(verified, service::PasswordCheck::Limits{}.maxFailures);
    EXPECT_EQ(refused, 60 - verified);
}

// A first login from elsewhere is verified before most of the guesses one
// address has waiting, not after all of them.
TEST_F(GuessingTest, AFirstLoginIsNotQueuedBehindAnotherAddresssGuesses) {
    const std::vector<int> flood = GuessesAtAnn("127.0.3.1", 20);
    ASSERT_GT(Answered(flood, 30000), 0) << "the guesses are being verified";
    EXPECT_EQ(HttpClient("127.0.3.2").Get("http://" + service.HostPort() + annUpdate),
              "100127.0.3.2");
    EXPECT_LE(Answered(flood, 0), 10) << "guesses answered before the first login";
    for (int fd : flood) {
        close(fd);
    }
}

// Guesses whose clients hang up before their turn are never verified, so
// they cost neither time nor the address's attempts; each is logged as 499.
TEST_F(GuessingTest, WorkForClientsThatLeftIsSkippedAndNotCounted) {
    for (int fd : GuessesAtAnn("127.0.3.3", 30)) {
        close(fd);
    }
    EXPECT_EQ(HttpClient("127.0.3.3").Get("http://" + service.HostPort() + annUpdate),
              "100127.0.3.3");
    ASSERT_EQ(service.Stop(), 0);
    EXPECT_NE(service.Log().find("127.0.3.3 GET /process.php login=\"ann\" status=499"),
              std::string::npos)
        << service.Log();
}

// The address check page tells each caller its own address (a trusted
// proxy's client's, un-mapped) in the form dynamic-DNS clients read, and no
// cache may keep it.
TEST(ServiceHttpTest, TheCheckPageTellsEachCallerItsOwnAddress) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"), 0, "127.0.0.1", -1, 0, {"--trust-proxy", "127.0.0.1"});
    ASSERT_TRUE(service.Ready()) << service.Log();
    const auto check = [&](const char* source, const std::string& fields) {
        return Received(Sent(source, service.Port(), "GET /checkip HTTP/1.0\r\n" + fields + "\r\n"),
                        5000);
    };
    const std::string direct = check("127.0.0.7", "");
    EXPECT_TRUE(direct.starts_with("HTTP/1.1 200 ")) << direct;
    EXPECT_NE(direct.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << direct;
    EXPECT_NE(direct.find("\r\nCache-Control: no-store\r\n"), std::string::npos) << direct;
    EXPECT_TRUE(
        direct.ends_with("\r\n\r\n<html><head><title>Current IP Check</title></head><body>"
                         "Current IP Address: 127.0.0.7</body></html>"))
        << direct;
    EXPECT_TRUE(check("127.0.0.1", "X-Forwarded-For: ::ffff:192.0.2.44\r\n")
                    .ends_with("Current IP Address: 192.0.2.44</body></html>"));
}

// With every place taken, a new client is served and the connection that has
// waited longest for a request makes room for it.
TEST(ServiceHttpTest, AtTheCapTheLongestIdleConnectionMakesRoom) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"), 0, "127.0.0.1", -1, 24 + 4);  // room for 4
    ASSERT_TRUE(service.Ready());
    const std::string home = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<int> idle;
    for (int i = 1; i <= 4; ++i) {
        idle.push_back(Sent("127.0.11." + std::to_string(i), service.Port(), home));
        ASSERT_TRUE(Received(idle.back(), 200).starts_with("HTTP/1.1 200 ")) << i;
    }
    const int newcomer = Sent("127.0.11.5", service.Port(), home);
    EXPECT_TRUE(Received(newcomer, 200).starts_with("HTTP/1.1 200 "));
    EXPECT_TRUE(ClosedByService(idle.front(), 5000)) << "the longest idle";
    EXPECT_FALSE(ClosedByService(idle.back(), 0)) << "the most recent";
    for (int fd : idle) {
        close(fd);
    }
    close(newcomer);
}

// A client that pipelines many requests answered at once gets every answer,
// in order, and the service keeps serving others meanwhile.
TEST(ServiceHttpTest, ManyPipelinedRequestsAreAllAnsweredWithoutHarm) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"));
    ASSERT_TRUE(service.Ready());
    constexpr int kRequests = 20000;
    std::string requests;
    for (int i = 0; i < kRequests; ++i) {
        requests += "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n";
    }
    const int fd = ConnectFrom("127.0.15.1", service.Port());
    ASSERT_GE(fd, 0);
    std::thread sender([&] { send(fd, requests.data(), requests.size(), MSG_NOSIGNAL); });
    std::size_t answers = 0;
    std::string tail;
    char buffer[65536];
    for (pollfd ready{fd, POLLIN, 0}; answers < kRequests && poll(&ready, 1, 5000) > 0;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        tail.append(buffer, std::size_t(n));
        for (std::size_t at; (at = tail.find("HTTP/1.1 200 ")) != std::string::npos;) {
            ++answers;
            tail.erase(0, at + 1);
        }
    }
    sender.join();
    close(fd);
    EXPECT_EQ(answers, std::size_t(kRequests));
    HttpClient other;
    EXPECT_TRUE(other.Get("http://" + service.HostPort() + "/")) << "the service is gone";
    EXPECT_EQ(service.Stop(), 0);
}

// A flood sends its requests at once and shuts its side of each connection:
// what it left unread is nobody's to answer, so the service does not work
// through it.
TEST(ServiceHttpTest, WhatAClientLeftBehindWhenItClosedIsNotAnswered) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"));
    ASSERT_TRUE(service.Ready());
    std::string flood;
    for (int i = 0; i < 2000; ++i) {
        flood += "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n";
    }
    // The service is held still while the floods arrive, so that each has
    // left before the service reads a byte of it, however the threads run.
    ASSERT_EQ(kill(service.Pid(), SIGSTOP), 0);
    std::vector<int> gone;
    for (int c = 1; c <= 4; ++c) {
        gone.push_back(Sent("127.0.13." + std::to_string(c), service.Port(), flood));
        shutdown(gone.back(), SHUT_WR);
    }
    ASSERT_EQ(kill(service.Pid(), SIGCONT), 0);
    ASSERT_EQ(std::count(gone.begin(), gone.end(), -1), 0);
    // Once the log stops growing, the service has done all it will.
    std::string log = service.Log();
    for (int quiet = 0; quiet < 5 && log.size() < 10'000'000;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string now = service.Log();
        quiet = now == log ? quiet + 1 : 0;
        log = now;
    }
    std::size_t answered = 0;
    for (std::size_t at = log.find(" HEAD / "); at != std::string::npos;
         at = log.find(" HEAD / ", at + 1)) {
        ++answered;
    }
    EXPECT_LT(answered, 100u) << "of 8000 requests from clients that had gone";
    for (const int fd : gone) {
        close(fd);
    }
    EXPECT_EQ(service.Stop(), 0);
}

// Under a small descriptor limit the reserve shrinks with it: 40 clients
// connected at once under 64 descriptors are all served.
TEST(ServiceHttpTest, ASmallDescriptorLimitStillServesManyClientsAtOnce) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"), 0, "127.0.0.1", -1, 64);
    ASSERT_TRUE(service.Ready());
    std::vector<int> clients;
    for (int i = 1; i <= 40; ++i) {
        clients.push_back(ConnectFrom("127.0.16." + std::to_string(i), service.Port()));
    }
    int served = 0;
    for (const int fd : clients) {
        const std::string head = "HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    }
    for (const int fd : clients) {
        served += Received(fd, 2000).starts_with("HTTP/1.1 200 ") ? 1 : 0;
        close(fd);
    }
    EXPECT_GE(served, 32);
    EXPECT_EQ(service.Stop(), 0);
}

// Request heads end as RFC 9112 and 9110 say: empty lines before a request
// are ignored, HTTP/1.2 is served as 1.1, an absolute target is served, close
// among other connection options closes, and Host must be there once.
TEST(ServiceHttpTest, RequestHeadsEndAsHttp11Says) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"));
    ASSERT_TRUE(service.Ready());
    const int fd = Sent("127.0.0.1", service.Port(),
                        "\r\nGET / HTTP/1.2\r\nHost: x\r\n\r\n"
                        "GET http://x/ HTTP/1.1\r\nHost: x\r\nConnection: close, TE\r\n"
                        "TE: trailers\r\n\r\n");
    const std::string both = Received(fd, 5000);
    EXPECT_EQ(both.find("HTTP/1.1 200 "), 0u) << both;
    EXPECT_NE(both.find("HTTP/1.1 200 ", 1), std::string::npos) << both;
    EXPECT_TRUE(ClosedByService(fd, 0));
    close(fd);
    for (const char* head :
         {"GET / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"}) {
        const int bad = Sent("127.0.0.1", service.Port(), head);
        EXPECT_TRUE(Received(bad, 5000).starts_with("HTTP/1.1 400 ")) << head;
        close(bad);
    }
}

// Listening on [::], an IPv4 client is answered and recorded by its IPv4
// address, not as ::ffff:127.0.0.1.
TEST(ServiceHttpTest, IPv4ClientsOfAnIPv6ListenerAreToldTheirIPv4Address) {
    TempDir dir;
    const std::string db = dir.File("s.db");
    AddAccount(db, "joe", "pw");
    ServiceProcess service(db, 0, "[::]");
    if (!service.Ready()) {
        GTEST_SKIP() << "no IPv6 on this machine: " << service.Log();
    }
    EXPECT_EQ(
        HttpClient().Get("http://" + service.HostPort() + "/process.php?login=joe&password=pw"),
        "100127.0.0.1");
    const std::string list = RunServiceCommand(db, "user list").output;
    EXPECT_NE(list.find(" 127.0.0.1 "), std::string::npos) << list;
    ASSERT_EQ(service.Stop(), 0);  // the log is complete once the service has stopped
    EXPECT_NE(service.Log().find(" 127.0.0.1 GET /process.php"), std::string::npos)
        << service.Log();
}

// With standard error a pipe nobody reads, every request is still answered:
// log lines are dropped and counted, told once the pipe is read again. Besides
// the pipe (64 KiB here), the log holds at most one batch being written and
// one queued, 256 KiB each: 16000 lines of 48 bytes overflow all three, however
// the writer's batches fall.
TEST(ServiceHttpTest, AStalledLogReaderStopsNothing) {
    TempDir dir;
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(pipeFds[1], F_SETPIPE_SZ, 65536), 65536);
    ServiceProcess service(dir.File("s.db"), 0, "127.0.0.1", pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_TRUE(service.Ready());
    HttpClient client;
    for (int i = 0; i < 16000; ++i) {
        ASSERT_TRUE(client.Get("http://" + service.HostPort() + "/")) << "request " << i;
    }
    std::string log;
    char buf[65536];
    for (int waits = 0; waits < 100 && log.find("log lines dropped") == std::string::npos;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            ++waits;
            continue;
        }
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        log.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_NE(log.find("log lines dropped"), std::string::npos);
    EXPECT_EQ(service.Stop(), 0) << "the pipe is full again: stopping must not wait for it";
    close(pipeFds[0]);
}

// An operator rotates the log by renaming its file and sending SIGHUP; job
// control and user signals end nothing.
TEST(ServiceHttpTest, HangUpReopensTheLogFileAndOtherSignalsEndNothing) {
    TempDir dir;
    ServiceProcess service(dir.File("s.db"));
    ASSERT_TRUE(service.Ready());
    const std::string rotated = service.LogPath() + ".1";
    ASSERT_EQ(rename(service.LogPath().c_str(), rotated.c_str()), 0);
    for (const int signal : {SIGHUP, SIGUSR1, SIGUSR2, SIGTSTP, SIGTTIN, SIGTTOU, SIGHUP}) {
        kill(service.Pid(), signal);
    }
    const std::string reopened = "SIGHUP: reopened the log " + service.LogPath();
    for (int i = 0; i < 500 && service.Log().find(reopened) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    HttpClient client;
    long status = 0;
    EXPECT_TRUE(client.Get("http://" + service.HostPort() + "/", &status)) << service.Log();
    EXPECT_EQ(status, 200);
    EXPECT_EQ(service.Stop(), 0);
    EXPECT_NE(ReadFile(rotated).find("listening on"), std::string::npos) << ReadFile(rotated);
    EXPECT_EQ(ReadFile(rotated).find("GET /"), std::string::npos) << ReadFile(rotated);
    EXPECT_NE(service.Log().find(reopened), std::string::npos) << service.Log();
    EXPECT_NE(service.Log().find("127.0.0.1 GET / status=200"), std::string::npos);
}

TEST(ServiceHttpTest, TakenPortIsReportedClearly) {
    TempDir dir;
    ServiceProcess first(dir.File("a.db"));
    ASSERT_TRUE(first.Ready());
    CommandResult second = RunServiceCommand(
        dir.File("b.db"), "serve --listen 127.0.0.1:" + std::to_string(first.Port()));
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.output.find("cannot listen on 127.0.0.1:"), std::string::npos)
        << second.output;
}

}  // namespace
