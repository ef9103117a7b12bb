// The service on a real PostgreSQL 15 server started by each test: the user
// commands on a URI, instances sharing one database, and the faults of a
// shared database (an instance killed, the database restarted).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "service/store/account_store.h"
#include "support/http_client.h"
#include "support/postgres_server.h"
#include "support/service_process.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

// The reply to one update, and its HTTP status.
std::string Update(const ServiceProcess& service, const std::string& login,
                   const std::string& password, long* status = nullptr,
                   const char* source = "127.0.0.1") {
    return HttpClient(source)
        .Get("http://" + service.HostPort() + "/process.php?login=" + login +
                 "&password=" + password,
             status)
        .value_or("no reply");
}

// The account of client c. (Built by appending: GCC 12 at -O3 warns falsely
// of an overlap in "u" + std::to_string(c).)
std::string Login(int c) {
    std::string name = "u";
    name += std::to_string(c);
    return name;
}

class PostgresTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pg.Trouble(), ""); }

    CommandResult User(const std::string& db, const std::string& command,
                       const std::string& input = "") {
        return RunServiceCommand(db, "--hash-strength minimum user " + command, input);
    }
    std::string LastAddress(const std::string& name) {
        return pg.Query("SELECT last_address FROM accounts WHERE name = '" + name + "'");
    }

    TempDir dir;
    PostgresServer pg{dir.Path()};
    const std::string db = pg.SocketUri();
};

// Over TCP with a password in the URI: the service creates its tables in a
// database its ordinary role owns, every command works, and neither the
// password nor a wrong one is ever shown.
TEST_F(PostgresTest, UserCommandsWorkOnADatabaseUriAndNeverShowItsPassword) {
    const std::string tcp = pg.TcpUri();
    std::string shown;
    const auto run = [&](const std::string& command, const std::string& input = "") {
        const CommandResult r = User(tcp, command, input);
        shown += r.output;
        return r;
    };
    EXPECT_EQ(run("add joe", "pw\n").status, 0);
    EXPECT_EQ(run("add ann", "pw\n").status, 0);
    EXPECT_EQ(run("add joe", "pw\n").status, 1);
    EXPECT_EQ(run("passwd joe", "new\n").output, "password of \"joe\" changed\n");
    EXPECT_EQ(run("ban joe").output, "user \"joe\" banned\n");
    EXPECT_EQ(run("remove ann").output, "user \"ann\" removed\n");
    EXPECT_EQ(run("unban nobody").status, 1);
    const std::string list = run("list").output;
    EXPECT_NE(list.find("joe                 yes"), std::string::npos) << list;
    EXPECT_EQ(list.find("ann"), std::string::npos) << list;
    // The same database through its unix socket.
    EXPECT_EQ(User(db, "list").output, list);

    EXPECT_EQ(pg.Query("SELECT tableowner, version FROM pg_tables, schema_version"
                       " WHERE tablename = 'accounts'"),
              "kestrome|" + std::to_string(service::AccountStore::kSchemaVersion) + "\n");
    const CommandResult refused = RunServiceCommand(pg.TcpUri("Wrong-Guess-7"), "user list");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("password authentication failed"), std::string::npos)
        << refused.output;
    EXPECT_EQ((shown + refused.output).find(PostgresServer::kPassword), std::string::npos);
    EXPECT_EQ(refused.output.find("Wrong-Guess-7"), std::string::npos);

    // A twin that a program other than the service put in: listed, and never
    // given the DNS name.
    EXPECT_EQ(run("add JOE", "pw\n").status, 1) << "refused regardless of case";
    pg.Query("INSERT INTO accounts(name, password_hash) VALUES ('JOE', 'x')");
    const std::string twins = run("list").output;
    EXPECT_NE(twins.find("never: \"joe\" has the DNS name"), std::string::npos) << twins;
}

// An add of the same name in another case by another instance, not yet
// committed, makes user add wait for it and then refuse: the name is one
// account's. So it is between a host and a login.
TEST_F(PostgresTest, AnAddNotYetCommittedElsewhereKeepsTheNameOneAccounts) {
    ASSERT_EQ(User(db, "add ann", "pw\n").status, 0) << "the schema is set up";
    const auto whileAddedElsewhere = [&](const std::string& insert, const std::string& command) {
        std::thread elsewhere(
            [&] { pg.Query("BEGIN; " + insert + "; SELECT pg_sleep(1); COMMIT;"); });
        for (int i = 0; i < 100 && pg.Query("SELECT count(*) FROM pg_stat_activity"
                                            " WHERE query LIKE '%pg_sleep(1)%' AND state = "
                                            "'active' AND pid != pg_backend_pid()") != "1\n";
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const CommandResult done = RunServiceCommand(db, command, "pw\n");
        elsewhere.join();
        return done;
    };
    const CommandResult added = whileAddedElsewhere(
        "INSERT INTO accounts(name, password_hash, dns_name) VALUES ('Alice', 'x', 'alice')",
        "--hash-strength minimum user add alice");
    EXPECT_EQ(added.status, 1) << added.output;
    EXPECT_NE(added.output.find("user \"Alice\" exists"), std::string::npos) << added.output;
    EXPECT_EQ(pg.Query("SELECT name FROM accounts WHERE lower(name) = 'alice'"), "Alice\n");
    EXPECT_EQ(whileAddedElsewhere("INSERT INTO hosts(label, account) VALUES ('nas', 'ann')",
                                  "--hash-strength minimum user add NAS")
                  .status,
              1);
    EXPECT_EQ(whileAddedElsewhere("INSERT INTO accounts(name, password_hash, dns_name)"
                                  " VALUES ('Box', 'x', 'box')",
                                  "host add ann box")
                  .status,
              1);
    EXPECT_EQ(pg.Query("SELECT count(*) FROM accounts WHERE lower(name) IN ('nas', 'box')") +
                  pg.Query("SELECT count(*) FROM hosts WHERE label IN ('nas', 'box')"),
              "1\n1\n");
}

// A password given in --db is wiped from the command line that other local
// users see; a mistyped URI's password reaches no output, however libpq
// echoes it; a file holding the URI is read only when private.
TEST_F(PostgresTest, AUrisPasswordReachesNeitherTheCommandLineNorAnyOutput) {
    ServiceProcess service(pg.TcpUri());
    ASSERT_TRUE(service.Ready()) << service.Log();
    const std::string cmdline = ReadFile("/proc/" + std::to_string(service.Pid()) + "/cmdline");
    EXPECT_NE(cmdline.find("127.0.0.1"), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find(PostgresServer::kPassword), std::string::npos) << cmdline;
    EXPECT_EQ(service.Stop(), 0);
    EXPECT_EQ(service.Log().find(PostgresServer::kPassword), std::string::npos) << service.Log();

    const std::string secret = "Typo-Secret-9";
    const std::string port = pg.TcpUri().substr(pg.TcpUri().rfind(':') + 1);
    for (const std::string& typo :
         {"postgresql://kestrome:" + secret + "@127.0.0.1:54x32/kestrome",
          "postgresql://kestrome:Typo/Secret-9@127.0.0.1:" + port,
          "postgresql://kestrome:" + secret + "@127.0.0.1:" + port + "?sslmod=require",
          "postgresql:/kestrome:" + secret + "@127.0.0.1:" + port,
          "postgres://kestrome@127.0.0.1:" + port + "?password=" + secret + "&bogus=1",
          "postgres://kestrome:" + secret + "@[::1/kestrome"}) {
        for (const char* command : {"user list", "serve --listen 127.0.0.1:1"}) {
            const CommandResult r = RunServiceCommand(typo, command);
            EXPECT_NE(r.status, 0) << typo;
            EXPECT_FALSE(r.output.empty()) << typo;
            for (const char* piece : {"Typo", "Secret-9"}) {
                EXPECT_EQ(r.output.find(piece), std::string::npos) << typo << ": " << r.output;
            }
        }
    }

    const std::string uriFile = dir.File("db-uri");
    WriteFile(uriFile, pg.TcpUri() + "\n");
    chmod(uriFile.c_str(), 0600);
    const CommandResult fromFile =
        RunServiceCommand("unused.db", "--db-file " + uriFile + " user list");
    EXPECT_EQ(fromFile.status, 0) << fromFile.output;
    chmod(uriFile.c_str(), 0640);
    const CommandResult shared =
        RunServiceCommand("unused.db", "--db-file " + uriFile + " user list");
    EXPECT_EQ(shared.status, 2);
    EXPECT_NE(shared.output.find("can be read by others"), std::string::npos) << shared.output;
    EXPECT_EQ(shared.output.find(PostgresServer::kPassword), std::string::npos) << shared.output;
}

// Updates through either instance are recorded, and a password change or a
// ban by command holds at both at their next request, even where the old
// password was remembered.
// An account page session made at one instance works at another, and its
// sign-out there ends it at both; only a digest of its id is stored.
TEST_F(PostgresTest, ASessionMadeAtOneInstanceWorksAtAnother) {
    User(db, "add joe", "pw\n");
    ServiceProcess a(db), b(db);
    ASSERT_TRUE(a.Ready() && b.Ready()) << a.Log() << b.Log();
    HttpClient browser;
    long status = 0;
    browser.Post("http://" + a.HostPort() + "/account/sign-in", "login=joe&password=pw", &status);
    ASSERT_EQ(status, 303) << browser.Head();
    const std::string head = browser.Head();
    const std::size_t at = head.find("Set-Cookie: kestrome_session=");
    ASSERT_NE(at, std::string::npos) << head;
    const std::string id = head.substr(at + 29, head.find(';', at) - at - 29);
    browser.AddHeader("Cookie: kestrome_session=" + id);
    const auto overview = [&](const ServiceProcess& at) {
        return browser.Get("http://" + at.HostPort() + "/account/").value_or("no reply");
    };
    const std::string page = overview(b);
    ASSERT_NE(page.find("Signed in as <strong>joe</strong>"), std::string::npos) << page;
    EXPECT_EQ(
        pg.Query("SELECT count(*), count(*) FILTER (WHERE id_hash = '" + id + "') FROM sessions"),
        "1|0\n");
    const std::size_t form = page.find("name=\"form\" value=\"");
    browser.Post("http://" + b.HostPort() + "/account/sign-out",
                 "form=" + page.substr(form + 19, 32), &status);
    EXPECT_EQ(status, 303);
    EXPECT_NE(overview(a).find("<h1>Sign in</h1>"), std::string::npos) << "ended at both";
    EXPECT_EQ(pg.Query("SELECT count(*) FROM sessions"), "0\n");
}

TEST_F(PostgresTest, TwoInstancesSeeEachOthersChangesAtTheirNextRequest) {
    User(db, "add joe", "pw\n");
    ServiceProcess a(db), b(db);
    ASSERT_TRUE(a.Ready() && b.Ready()) << a.Log() << b.Log();

    EXPECT_EQ(Update(a, "joe", "pw"), "100127.0.0.1");
    EXPECT_EQ(Update(b, "joe", "pw", nullptr, "127.0.0.2"), "100127.0.0.2");
    EXPECT_EQ(LastAddress("joe"), "127.0.0.2\n");

    User(db, "passwd joe", "new\n");
    EXPECT_EQ(Update(a, "joe", "pw"), "102");
    EXPECT_EQ(Update(b, "joe", "pw"), "102");
    EXPECT_EQ(Update(a, "joe", "new"), "100127.0.0.1");

    User(db, "ban joe");
    EXPECT_EQ(Update(a, "joe", "new"), "103");
    EXPECT_EQ(Update(b, "joe", "new"), "103");
}

// Clients each keep moving an account of their own to a new address while
// one instance is killed: each account holds the address of its last
// acknowledged update, or of the one still unanswered; and the other
// instance goes on answering.
TEST_F(PostgresTest, AnInstanceKilledUnderLoadLosesNoAcknowledgedUpdate) {
    constexpr int kClients = 16;
    ServiceProcess a(db), b(db);
    ASSERT_TRUE(a.Ready() && b.Ready()) << a.Log() << b.Log();
    for (int c = 0; c < kClients; ++c) {
        User(db, "add u" + std::to_string(c), "pw\n");
        ASSERT_EQ(Update(a, Login(c), "pw"), "100127.0.0.1");
    }

    std::vector<std::string> acknowledged(kClients), unanswered(kClients);
    std::atomic<int> acknowledgements = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        // Until the first update left without an answer.
        clients.emplace_back([&, c] {
            for (int k = 0;; ++k) {
                const std::string source =
                    "127.1." + std::to_string(c) + "." + std::to_string(k % 250 + 1);
                unanswered[c] = source;
                if (Update(a, Login(c), "pw", nullptr, source.c_str()) != "100" + source) {
                    break;
                }
                acknowledged[c] = source;
                ++acknowledgements;
            }
        });
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (acknowledgements < 500 && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    a.Kill();
    for (std::thread& t : clients) {
        t.join();
    }

    ASSERT_GE(acknowledgements, 500);
    for (int c = 0; c < kClients; ++c) {
        const std::string stored = LastAddress(Login(c));
        EXPECT_TRUE(stored == acknowledged[c] + "\n" || stored == unanswered[c] + "\n")
            << "u" << c << " holds " << stored << " after " << acknowledged[c]
            << " was acknowledged";
    }
    EXPECT_EQ(Update(b, "u0", "pw", nullptr, "127.0.0.2"), "100127.0.0.2");
}

// While the database is down, updates are answered 503 (never 100) and the
// home page still answers; once it is back, updates are recorded again
// without restarting the service, and the log tells both. Another client
// keeps sending throughout.
TEST_F(PostgresTest, ADatabaseRestartGives503ThenRecoversWithoutARestart) {
    User(db, "add joe", "pw\n");
    User(db, "add ann", "pw\n");
    ServiceProcess service(db);
    ASSERT_TRUE(service.Ready()) << service.Log();
    ASSERT_EQ(Update(service, "joe", "pw"), "100127.0.0.1");

    std::atomic<bool> done = false;
    std::atomic<int> odd = 0;
    std::thread load([&] {
        HttpClient client("127.0.0.2");
        while (!done) {
            long status = 0;
            const auto reply = client.Get(
                "http://" + service.HostPort() + "/process.php?login=ann&password=pw", &status);
            odd += !reply || !(status == 503 || reply->starts_with("100"));
        }
    });
    ASSERT_TRUE(pg.Stop());
    for (int i = 0; i < 5; ++i) {
        long status = 0;
        EXPECT_EQ(Update(service, "joe", "pw", &status), "");
        EXPECT_EQ(status, 503);
    }
    long home = 0;
    HttpClient().Get("http://" + service.HostPort() + "/", &home);
    EXPECT_EQ(home, 200);

    ASSERT_TRUE(pg.Start());
    const auto within = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string reply;
    while (reply != "100127.0.0.1" && std::chrono::steady_clock::now() < within) {
        reply = Update(service, "joe", "pw");
    }
    done = true;
    load.join();
    EXPECT_EQ(reply, "100127.0.0.1") << service.Log();
    EXPECT_EQ(odd, 0);
    ASSERT_EQ(service.Stop(), 0);
    const std::string log = service.Log();
    const std::size_t back = log.find("kestrome-service: the database is reachable again");
    EXPECT_NE(back, std::string::npos) << log;
    EXPECT_LT(log.find("kestrome-service: the database cannot be reached"), back) << log;
}

// A database server that stops answering (its processes stopped) holds no
// update for ever: it is answered 503 once the answer wait is over, and the
// service recovers by itself when the server goes on.
TEST_F(PostgresTest, AServerThatStopsAnsweringGets503AndNoHang) {
    User(db, "add joe", "pw\n");
    ServiceProcess service(db);
    ASSERT_TRUE(service.Ready()) << service.Log();
    ASSERT_EQ(Update(service, "joe", "pw"), "100127.0.0.1");
    std::vector<pid_t> backends;
    std::istringstream pids(
        pg.Query("SELECT pid FROM pg_stat_activity WHERE usename = 'kestrome'"));
    for (pid_t pid; pids >> pid;) {
        backends.push_back(pid);
        kill(pid, SIGSTOP);
    }
    ASSERT_FALSE(backends.empty());
    long status = 0;
    const std::string stalled = Update(service, "joe", "pw", &status, "127.0.0.2");
    for (pid_t pid : backends) {
        kill(pid, SIGCONT);
    }
    EXPECT_EQ(status, 503) << stalled;
    EXPECT_EQ(Update(service, "joe", "pw", nullptr, "127.0.0.3"), "100127.0.0.3");
}

}  // namespace
