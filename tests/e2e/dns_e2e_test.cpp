// The service publishing addresses through a real name server (Knot DNS)
// started by each test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/http_client.h"
#include "support/knot_server.h"
#include "support/postgres_server.h"
#include "support/service_process.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

// The reply to one update for login (password pw) sent from source.
std::string Update(const std::string& hostPort, const std::string& login,
                   const std::string& source = "127.0.0.1") {
    return HttpClient(source.c_str())
        .Get("http://" + hostPort + "/process.php?login=" + login + "&password=pw")
        .value_or("");
}

// True once text appears in the service's log, waiting up to seconds.
bool LogSays(const ServiceProcess& service, const std::string& text, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (service.Log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

class DnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/sbin/knotd", X_OK) != 0) {
            GTEST_SKIP() << "Knot DNS is not installed (scripts/install-deps installs it)";
        }
        ASSERT_EQ(knot.Trouble(), "");
        AddAccount(db, "joe", "pw");
    }
    // The service publishing to the test's name server, with its key or
    // another one.
    std::unique_ptr<ServiceProcess> Service(bool rightKey = true) {
        auto service = std::make_unique<ServiceProcess>(
            db, 0, "127.0.0.1", -1, 0,
            std::vector<std::string>{"--dns-server", knot.HostPort(), "--dns-zone",
                                     KnotServer::kZone, "--dns-key", knot.KeyFile(rightKey)});
        EXPECT_TRUE(service->Ready()) << service->Log();
        return service;
    }
    std::string User(const std::string& command) {
        return RunServiceCommand(db, "user " + command).output;
    }

    TempDir dir;
    const std::string db = dir.File("s.db");
    KnotServer knot{dir.Path()};
};

// One A record, TTL 60, follows the account: a new address replaces it, a
// ban or a removal takes it away and an unban brings it back, each made by
// the user commands as separate processes; a refresh from the same address
// sends nothing.
TEST_F(DnsTest, TheRecordFollowsTheAccount) {
    auto service = Service();
    EXPECT_EQ(Update(service->HostPort(), "joe"), "100127.0.0.1");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.0.1", 2));
    EXPECT_EQ(Update(service->HostPort(), "joe", "127.0.12.1"), "100127.0.12.1");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.12.1", 2));
    User("ban joe");
    EXPECT_TRUE(knot.WaitFor("joe", "", 3)) << "banned";
    User("unban joe");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.12.1", 3)) << "unbanned";
    EXPECT_NE(User("list").find("127.0.12.1  "), std::string::npos) << User("list");
    EXPECT_EQ(Update(service->HostPort(), "joe", "127.0.12.1"), "100127.0.12.1");
    User("remove joe");
    EXPECT_TRUE(knot.WaitFor("joe", "", 3)) << "removed";
    ASSERT_EQ(service->Stop(), 0);
    const std::string log = service->Log();
    const std::string sent = "DNS joe.example.test. 127.0.12.1";
    std::size_t times = 0;
    for (std::size_t at = log.find(sent); at != std::string::npos; at = log.find(sent, at + 1)) {
        ++times;
    }
    EXPECT_EQ(times, 2u) << "the change and the unban; the refresh sent nothing: " << log;
}

// A login that is not a DNS label is answered as usual, never published, and
// told once in the log.
TEST_F(DnsTest, ALoginThatIsNoDnsLabelIsNeverPublished) {
    AddAccount(db, "jo_e", "pw");
    auto service = Service();
    EXPECT_EQ(Update(service->HostPort(), "jo_e"), "100127.0.0.1");
    EXPECT_EQ(Update(service->HostPort(), "jo_e", "127.0.12.3"), "100127.0.12.3");
    EXPECT_EQ(Update(service->HostPort(), "joe"), "100127.0.0.1");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.0.1", 2)) << "others are published";
    ASSERT_EQ(service->Stop(), 0);
    const std::string log = service->Log();
    const std::string told = "account \"jo_e\" is not published in DNS";
    EXPECT_NE(log.find(told), std::string::npos) << log;
    EXPECT_EQ(log.find(told), log.rfind(told)) << log;
}

// With the name server down, clients are answered as usual and the failure is
// logged in words; once it is back, it gets the latest address.
TEST_F(DnsTest, ANameServerThatWasDownGetsTheLatestAddressWhenBack) {
    knot.Stop();
    auto service = Service();
    EXPECT_EQ(Update(service->HostPort(), "joe"), "100127.0.0.1");
    EXPECT_EQ(Update(service->HostPort(), "joe", "127.0.12.2"), "100127.0.12.2");
    EXPECT_TRUE(
        LogSays(*service, "no answer from 127.0.0.1 port " + std::to_string(knot.Port()), 5))
        << service->Log();
    knot.Start();
    ASSERT_EQ(knot.Trouble(), "");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.12.2", 20)) << service->Log();
}

// A key the name server does not accept is logged with the server's reason;
// nothing is published and clients are answered as usual.
TEST_F(DnsTest, AWrongKeyIsLoggedAndHarmsNothing) {
    auto service = Service(false);
    EXPECT_EQ(Update(service->HostPort(), "joe"), "100127.0.0.1");
    EXPECT_TRUE(LogSays(*service, "refused it (NOTAUTH, BADSIG: the key's secret differs)", 5))
        << service->Log();
    EXPECT_EQ(knot.Records("joe"), "");
    EXPECT_EQ(Update(service->HostPort(), "joe", "127.0.12.4"), "100127.0.12.4");
}

// Changes made while the service was stopped are published when it starts.
TEST_F(DnsTest, ChangesMadeWhileStoppedArePublishedAtStart) {
    AddAccount(db, "ann", "pw");
    auto service = Service();
    EXPECT_EQ(Update(service->HostPort(), "joe"), "100127.0.0.1");
    EXPECT_EQ(Update(service->HostPort(), "ann"), "100127.0.0.1");
    ASSERT_TRUE(knot.WaitFor("ann", "A 60 127.0.0.1", 2));
    ASSERT_EQ(service->Stop(), 0);
    User("ban joe");
    User("remove ann");
    AddAccount(db, "bob", "pw");
    service = Service();
    EXPECT_TRUE(knot.WaitFor("joe", "", 5)) << "banned while stopped";
    EXPECT_TRUE(knot.WaitFor("ann", "", 5)) << "removed while stopped";
}

// On a PostgreSQL database too, each address is published, an IPv6 one as the
// only record (AAAA) and the next IPv4 one replacing it (A), other hosts
// too, and a ban withdraws the names.
TEST_F(DnsTest, APostgresqlDatabasePublishesIPv6AndIPv4Alike) {
    PostgresServer pg(dir.Path());
    ASSERT_EQ(pg.Trouble(), "");
    const std::string uri = pg.SocketUri();
    AddAccount(uri, "joe", "pw");
    ServiceProcess service(uri, 0, "127.0.0.1", -1, 0,
                           {"--trust-proxy", "127.0.0.1", "--dns-server", knot.HostPort(),
                            "--dns-zone", KnotServer::kZone, "--dns-key", knot.KeyFile()});
    ASSERT_TRUE(service.Ready()) << service.Log();
    EXPECT_TRUE(LogSays(service, "DNS zone example.test. read: 1 names under it", 5))
        << service.Log();
    const auto from = [&](const std::string& address) {
        HttpClient client;
        client.AddHeader("X-Forwarded-For: " + address);
        return client.Get("http://" + service.HostPort() + "/process.php?login=joe&password=pw")
            .value_or("");
    };
    EXPECT_EQ(from("2001:db8::5"), "1002001:db8::5");
    EXPECT_TRUE(knot.WaitFor("joe", "AAAA 60 2001:db8::5", 5)) << service.Log();
    EXPECT_EQ(from("192.0.2.5"), "100192.0.2.5");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.5\nAAAA 60 2001:db8::5", 5))
        << "each family is kept: " << knot.Records("joe");
    // An update token made with the database's own key works as on a file.
    const CommandResult token = RunServiceCommand(uri, "host token joe joe");
    ASSERT_EQ(token.status, 0) << token.output;
    EXPECT_EQ(
        HttpClient().Get("http://joe:" + token.output.substr(0, 32) + "@" + service.HostPort() +
                         "/nic/update?hostname=joe.example.test&myip=192.0.2.8"),
        "good 192.0.2.8");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.8\nAAAA 60 2001:db8::5", 5));
    // So does another host, whose name no login may then take.
    const CommandResult nas = RunServiceCommand(uri, "host add joe nas");
    ASSERT_EQ(nas.status, 0) << nas.output;
    EXPECT_EQ(HttpClient().Get("http://joe:" + nas.output.substr(0, 32) + "@" + service.HostPort() +
                               "/nic/update?hostname=nas.example.test&myip=192.0.2.9"),
              "good 192.0.2.9");
    EXPECT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.9", 5));
    EXPECT_EQ(RunServiceCommand(uri, "--hash-strength minimum user add NAS", "pw\n").status, 1);
    RunServiceCommand(uri, "user ban joe");
    EXPECT_TRUE(knot.WaitFor("joe", "", 5)) << service.Log();
    EXPECT_TRUE(knot.WaitFor("nas", "", 5)) << "a banned account's hosts are withdrawn";
    EXPECT_NE(RunServiceCommand(uri, "user list").output.find("joe"), std::string::npos);
    ASSERT_EQ(RunServiceCommand(uri, "user remove joe").status, 0);
    AddAccount(uri, "ann", "pw");
    EXPECT_EQ(RunServiceCommand(uri, "host add ann nas").status, 0) << "joe's hosts went with joe";
}

// No account can take another's DNS name or one of the zone's own: a login
// that differs from another only in case, one of the usual names of a zone,
// and one the operator reserved are refused.
TEST_F(DnsTest, NamesThatDnsWouldMergeOrTheZoneOwnsAreRefused) {
    const auto add = [&](const std::string& options, const std::string& name) {
        return RunServiceCommand(db, options + " --hash-strength minimum user add " + name, "pw\n");
    };
    const CommandResult twin = add("", "JOE");
    EXPECT_EQ(twin.status, 1);
    EXPECT_NE(twin.output.find("user \"joe\" exists; names must differ in more than case"),
              std::string::npos)
        << twin.output;
    for (const char* own : {"www", "Ns", "mail"}) {
        const CommandResult r = add("", own);
        EXPECT_EQ(r.status, 1) << own;
        EXPECT_NE(r.output.find("one of the zone's own names"), std::string::npos) << r.output;
    }
    EXPECT_EQ(add("--dns-reserve VPN", "vpn").status, 1);
    EXPECT_EQ(add("", "vpn").status, 0) << "reserved only where the operator says so";
    EXPECT_EQ(User("list").find("JOE"), std::string::npos) << User("list");
}

// What the zone holds when publication starts, and the service did not put
// there, stays the zone's: an account of that name (here in another case) is
// never published, not even withdrawn when banned, and user add refuses such
// a name. What the service left there is brought in line with the store: a
// name whose account is gone is withdrawn, and so is one the store never
// noted as published.
TEST_F(DnsTest, TheZonesOwnNamesStayAndWhatTheStoreDoesNotHaveIsWithdrawn) {
    TempDir zoneDir;
    KnotServer zone(zoneDir.Path(), "",
                    "blog 300 A 192.0.2.80\nshop 300 TXT \"ours\"\n"
                    "gone 60 A 192.0.2.9\njoe 60 AAAA 2001:db8::9\n");
    ASSERT_EQ(zone.Trouble(), "");
    AddAccount(db, "Blog", "pw");
    ServiceProcess service(db, 0, "127.0.0.1", -1, 0,
                           {"--dns-server", zone.HostPort(), "--dns-zone", KnotServer::kZone,
                            "--dns-key", zone.KeyFile()});
    ASSERT_TRUE(service.Ready()) << service.Log();
    EXPECT_TRUE(zone.WaitFor("gone", "", 5)) << service.Log();
    EXPECT_TRUE(zone.WaitFor("joe", "", 5)) << "joe has sent no address yet";
    EXPECT_EQ(Update(service.HostPort(), "Blog"), "100127.0.0.1");
    EXPECT_EQ(Update(service.HostPort(), "joe"), "100127.0.0.1");
    EXPECT_TRUE(zone.WaitFor("joe", "A 60 127.0.0.1", 5)) << service.Log();
    User("ban Blog");
    EXPECT_EQ(Update(service.HostPort(), "joe", "127.0.0.2"), "100127.0.0.2");
    EXPECT_TRUE(zone.WaitFor("joe", "A 60 127.0.0.2", 5)) << service.Log();
    EXPECT_EQ(zone.Records("blog"), "A 300 192.0.2.80");
    EXPECT_TRUE(LogSays(service, "account \"Blog\" is not published in DNS: the zone holds", 1));
    EXPECT_NE(User("list").find("never: the zone holds the name"), std::string::npos);
    const CommandResult shop =
        RunServiceCommand(db, "--hash-strength minimum user add SHOP", "pw\n");
    EXPECT_EQ(shop.status, 1);
    EXPECT_NE(shop.output.find("\"SHOP\" is a name the zone already holds"), std::string::npos)
        << shop.output;
}

// Wrong DNS options stop serve at start with one line and status 2.
TEST_F(DnsTest, WrongDnsOptionsStopTheServiceAtStart) {
    const std::string key = knot.KeyFile();
    const std::string dns = " --dns-server " + knot.HostPort() + " --dns-zone example.test";
    chmod(key.c_str(), 0644);
    CommandResult shared = RunServiceCommand(db, "serve" + dns + " --dns-key " + key);
    EXPECT_EQ(shared.status, 2);
    EXPECT_NE(shared.output.find("can be read by others"), std::string::npos) << shared.output;
    chmod(key.c_str(), 0600);
    WriteFile(dir.File("md5.key"), "key \"k\" { algorithm hmac-md5; secret \"AAAA\"; };\n");
    chmod(dir.File("md5.key").c_str(), 0600);
    CommandResult md5 = RunServiceCommand(db, "serve" + dns + " --dns-key " + dir.File("md5.key"));
    EXPECT_EQ(md5.status, 2);
    EXPECT_NE(md5.output.find("unknown algorithm hmac-md5"), std::string::npos) << md5.output;
    EXPECT_EQ(RunServiceCommand(db, "serve --dns-zone x").status, 2);
}

}  // namespace
