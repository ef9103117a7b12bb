// The dyndns2 update as routers and the dynamic-DNS daemons Debian ships
// (ddclient, inadyn) send it, over plain HTTP and the service's own TLS, with
// the names published by a real name server (Knot DNS) each test starts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/published_service.h"

using namespace testsupport;

namespace {

class DynDnsTest : public PublishedServiceTest {
protected:
    std::vector<std::string> BeforeStart() override {
        AddAccount(db, "ann", "pw");
        return {};
    }
    // The reply to /nic/update?QUERY with credentials ("user:password", or
    // none); status gets the HTTP status.
    std::string Update(const std::string& credentials, const std::string& query,
                       long* status = nullptr) {
        const std::string at = credentials.empty() ? "" : credentials + "@";
        return client.Get("http://" + at + service->HostPort() + "/nic/update?" + query, status)
            .value_or("no reply");
    }
    std::string Server(bool tls) const {
        return "127.0.0.1:" + std::to_string(tls ? tlsPort : service->Port());
    }
};

// One line per name in the request's order; what is not proved, not the
// account's or not an address changes nothing.
TEST_F(DynDnsTest, OneLinePerNameAndNothingChangedByWhatIsRefused) {
    long status = 0;
    EXPECT_EQ(Update("", "hostname=joe.example.test&myip=127.0.0.5", &status), "badauth");
    EXPECT_EQ(status, 401);
    EXPECT_NE(client.Head().find("\r\nWWW-Authenticate: Basic realm="), std::string::npos)
        << client.Head();
    EXPECT_EQ(Update("joe:wrong", "hostname=joe.example.test&myip=127.0.0.5", &status), "badauth");
    EXPECT_EQ(status, 401);
    EXPECT_EQ(Update("joe:pw", "hostname=joe.example.test&myip=no.such", &status),
              "the address given is not one");
    EXPECT_EQ(status, 400);
    EXPECT_EQ(knot.Records("joe"), "");

    EXPECT_EQ(Update("joe:pw",
                     "hostname=joe.example.test,JOE.Example.Test.,bob.example.test,"
                     "joe.example.org&myip=127.0.0.5&system=dyndns&wildcard=NOCHG",
                     &status),
              "good 127.0.0.5\nnochg 127.0.0.5\nnohost\nnotfqdn");
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.0.5", 2));
    EXPECT_EQ(Update("joe:pw", "hostname=joe.example.test&myip=127.0.0.5"), "nochg 127.0.0.5");
    std::string many = "hostname=joe.example.test";
    for (int i = 0; i < 20; ++i) {
        many += ",joe.example.test";
    }
    EXPECT_EQ(Update("joe:pw", many + "&myip=127.0.0.6"), "numhost");
    EXPECT_EQ(Update("joe:pw", "hostname=joe.example.test&myip=127.0.0.5&offline=YES"),
              "good 127.0.0.5");
    EXPECT_TRUE(knot.WaitFor("joe", "", 2)) << "offline withdraws the record";
    RunServiceCommand(db, "user ban joe");
    EXPECT_EQ(Update("joe:pw", "hostname=joe.example.test&myip=127.0.0.7"), "abuse");
    ASSERT_EQ(service->Stop(), 0);
    EXPECT_NE(service->Log().find("GET /nic/update login=\"joe\" hostname=\"joe.example.test\""
                                  " reply=\"nochg 127.0.0.5\""),
              std::string::npos)
        << service->Log();
    EXPECT_EQ(service->Log().find("pw"), std::string::npos) << "no password is logged";
}

// One update may give both families; one that gives a family leaves the
// other's record as it is.
TEST_F(DynDnsTest, BothFamiliesAreKeptEachOnItsOwn) {
    const std::string joe = "hostname=joe.example.test";
    EXPECT_EQ(Update("joe:pw", joe + "&myip=192.0.2.5,2001:DB8::5"), "good 192.0.2.5,2001:DB8::5");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.5\nAAAA 60 2001:db8::5", 2));
    EXPECT_EQ(Update("joe:pw", joe + "&myip=203.0.113.6"), "good 203.0.113.6");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 203.0.113.6\nAAAA 60 2001:db8::5", 2));
    EXPECT_EQ(Update("joe:pw", joe + "&myip=203.0.113.6&myipv6=2001:db8::5"),
              "nochg 203.0.113.6,2001:db8::5");
    EXPECT_EQ(Update("joe:pw", joe + "&myipv6=2001:db8::6"), "good 2001:db8::6");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 203.0.113.6\nAAAA 60 2001:db8::6", 2));
    long status = 0;
    EXPECT_EQ(Update("joe:pw", joe + "&myip=192.0.2.7,192.0.2.8", &status),
              "the address given is not one");
    EXPECT_EQ(status, 400);
    EXPECT_EQ(knot.Records("joe"), "A 60 203.0.113.6\nAAAA 60 2001:db8::6");
    // Started again, the service finds both records as it left them (its
    // reading of the zone orders them as it joins them) and sends nothing
    // for them, though it publishes another name after the reading.
    ASSERT_EQ(service->Stop(), 0);
    ServiceProcess again(db, 0, "127.0.0.1", -1, 0,
                         {"--dns-server", knot.HostPort(), "--dns-zone", KnotServer::kZone,
                          "--dns-key", knot.KeyFile()});
    ASSERT_TRUE(again.Ready());
    for (int i = 0; i < 50 && again.Log().find("read: ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(client.Get("http://ann:pw@" + again.HostPort() +
                         "/nic/update?hostname=ann.example.test&myip=192.0.2.9"),
              "good 192.0.2.9");
    EXPECT_TRUE(knot.WaitFor("ann", "A 60 192.0.2.9", 2));
    ASSERT_EQ(again.Stop(), 0);
    EXPECT_EQ(again.Log().find("DNS joe.example.test."), std::string::npos) << again.Log();
}

// An update token works for /nic/update only, alone on its line; a new one
// ends the one before at once, and none is stored in clear.
TEST_F(DynDnsTest, ATokenUpdatesItsHostAndARotatedOneChangesNothing) {
    const auto newToken = [&] {
        const CommandResult made = RunServiceCommand(db, "host token joe JOE");
        EXPECT_EQ(made.status, 0) << made.output;
        EXPECT_EQ(made.output.size(), 33u) << made.output;
        return made.output.substr(0, made.output.find('\n'));
    };
    const std::string first = newToken();
    const std::string update = "hostname=joe.example.test&myip=192.0.2.";
    EXPECT_EQ(Update("joe:" + first, update + "1"), "good 192.0.2.1");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.1", 2));
    const std::string second = newToken();
    EXPECT_NE(second, first);
    EXPECT_EQ(second.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                       "0123456789-_"),
              std::string::npos)
        << second;
    long status = 0;
    EXPECT_EQ(Update("joe:" + first, update + "2", &status), "badauth");
    EXPECT_EQ(status, 401);
    EXPECT_EQ(Update("ann:" + second, update + "2"), "badauth") << "another login's";
    EXPECT_EQ(
        client.Get("http://" + service->HostPort() + "/process.php?login=joe&password=" + second),
        "102")
        << "the client's protocol takes the password only";
    EXPECT_EQ(knot.Records("joe"), "A 60 192.0.2.1");
    EXPECT_EQ(Update("joe:" + second, update + "3"), "good 192.0.2.3");
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.3", 2));
    EXPECT_EQ(RunServiceCommand(db, "host token joe bob").status, 1);
    const std::string list = RunServiceCommand(db, "host list joe").output;
    EXPECT_NE(list.find("\njoe                 192.0.2.3       "), std::string::npos) << list;
    ASSERT_EQ(service->Stop(), 0);
    for (const std::string& file : {db, db + "-wal"}) {
        EXPECT_EQ(ReadFile(file).find(second), std::string::npos) << file;
    }
}

// An account's other hosts: each label is free among hosts and logins in any
// case; the password updates them all, a host's token its own alone; a
// removed host, and every host of a removed account, is withdrawn.
TEST_F(DynDnsTest, SeveralHostsEachWithItsOwnTokenAndWithdrawnWhenRemoved) {
    const auto token = [&](const std::string& command) {
        const CommandResult made = RunServiceCommand(db, command);
        EXPECT_EQ(made.status, 0) << command << ": " << made.output;
        EXPECT_EQ(made.output.size(), 33u) << made.output;
        return made.output.substr(0, made.output.find('\n'));
    };
    const std::string nas = token("host add joe NAS");
    for (const char* taken : {"host add ann nas", "host add joe Ann", "host add joe -nas",
                              "host add joe www", "host add bob box"}) {
        const CommandResult refused = RunServiceCommand(db, taken);
        EXPECT_EQ(refused.status, 1) << taken << ": " << refused.output;
        EXPECT_EQ(refused.output.find('\n'), refused.output.size() - 1) << "one line only";
    }
    EXPECT_EQ(RunServiceCommand(db, "user add Nas", "pw\n").status, 1);

    const std::string hosts = "hostname=joe.example.test,nas.example.test,ann.example.test";
    EXPECT_EQ(Update("joe:pw", hosts + "&myip=192.0.2.10"),
              "good 192.0.2.10\ngood 192.0.2.10\nnohost");
    EXPECT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.10", 2));
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.10", 2));
    EXPECT_EQ(Update("joe:" + nas, "hostname=nas.example.test,joe.example.test&myipv6=2001:db8::a"),
              "good 2001:db8::a\nnohost");
    EXPECT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.10\nAAAA 60 2001:db8::a", 2));
    EXPECT_EQ(Update("ann:" + nas, "hostname=nas.example.test&myip=192.0.2.99"), "badauth");
    EXPECT_EQ(Update("joe:" + nas, "hostname=joe.example.test&myip=192.0.2.99"), "nohost")
        << "a host's token names no other host";
    const std::string list = RunServiceCommand(db, "host list joe").output;
    EXPECT_NE(list.find("\nnas                 192.0.2.10      "), std::string::npos) << list;
    EXPECT_NE(list.find(" UTC from 127.0.0.1"), std::string::npos) << list;

    const std::string renewed = token("host token joe nas");
    EXPECT_EQ(Update("joe:" + nas, "hostname=nas.example.test&myip=192.0.2.11"), "badauth");
    EXPECT_EQ(Update("joe:" + renewed, "hostname=nas.example.test&myip=192.0.2.11"),
              "good 192.0.2.11");
    EXPECT_TRUE(knot.WaitFor("nas", "A 60 192.0.2.11\nAAAA 60 2001:db8::a", 2));

    EXPECT_EQ(RunServiceCommand(db, "host remove joe joe").status, 1);
    EXPECT_EQ(RunServiceCommand(db, "host remove ann nas").status, 1);
    EXPECT_EQ(RunServiceCommand(db, "host remove joe NAS").status, 0);
    EXPECT_TRUE(knot.WaitFor("nas", "", 2)) << "a removed host is withdrawn";
    token("host add joe box");
    EXPECT_EQ(Update("joe:pw", "hostname=box.example.test&myip=192.0.2.12"), "good 192.0.2.12");
    EXPECT_TRUE(knot.WaitFor("box", "A 60 192.0.2.12", 2));
    ASSERT_EQ(RunServiceCommand(db, "user remove joe").status, 0);
    EXPECT_TRUE(knot.WaitFor("box", "", 2)) << "the hosts of a removed account are withdrawn";
    EXPECT_TRUE(knot.WaitFor("joe", "", 2));
    token("host add ann box");
}

// A dynamic-DNS daemon as Debian ships it, run by a test over plain HTTP
// (parameter false) or HTTPS (true).
class DaemonTest : public DynDnsTest, public ::testing::WithParamInterface<bool> {
protected:
    explicit DaemonTest(const char* program) : program_(program) {}
    void SetUp() override {
        if (access(program_, X_OK) != 0) {
            GTEST_SKIP() << program_ << " is not installed (scripts/install-deps installs it)";
        }
        DynDnsTest::SetUp();
    }

private:
    const char* program_;
};

// ddclient, one run in the foreground, reading the address from the check
// page and updating joe's name; with a wrong password it says it failed and
// the name stays as it was.
class DdclientTest : public DaemonTest {
protected:
    DdclientTest() : DaemonTest("/usr/bin/ddclient") {}
    // What one run prints.
    std::string Run(const std::string& password) {
        const bool tls = GetParam();
        const std::string scheme = tls ? "https" : "http";
        const std::string config = dir.File("ddclient.conf");
        WriteFile(config, "syslog=no\ntimeout=10\nssl=" + std::string(tls ? "yes" : "no") +
                              "\nssl_ca_file=" + certificate.ca + "\nuse=web, web=" + scheme +
                              "://" + Server(tls) +
                              "/checkip\nprotocol=dyndns2\nserver=" + Server(tls) +
                              "\nlogin=joe\npassword='" + password + "'\njoe.example.test\n");
        chmod(config.c_str(), 0600);
        return CommandOutput("timeout 30 ddclient -daemon=0 -foreground -noquiet -force -file " +
                             config + " -cache " + dir.File("ddclient.cache") + " 2>&1");
    }
};

TEST_P(DdclientTest, UpdatesTheNameAndFailsOnAWrongPassword) {
    const std::string wrong = Run("wrong");
    EXPECT_NE(wrong.find("FAILED:"), std::string::npos) << wrong;
    EXPECT_NE(wrong.find("badauth"), std::string::npos) << wrong;
    EXPECT_EQ(knot.Records("joe"), "");
    const std::string right = Run("pw");
    EXPECT_NE(right.find("SUCCESS:"), std::string::npos) << right;
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.0.1", 2)) << right << service->Log();
}

INSTANTIATE_TEST_SUITE_P(OverHttpAndHttps, DdclientTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Https" : "Http"; });

// inadyn, one run, with a custom provider for the service.
class InadynTest : public DaemonTest {
protected:
    InadynTest() : DaemonTest("/usr/sbin/inadyn") {}
    std::string Run(const std::string& password) {
        const bool tls = GetParam();
        const std::string yesNo = tls ? "true" : "false";
        const std::string config = dir.File("inadyn.conf");
        // A loopback address is taken, as the test's service sees its clients.
        WriteFile(config, "verify-address = false\nca-trust-file = " + certificate.ca +
                              "\ncustom kestrome {\n username = joe\n password = " + password +
                              "\n ddns-server = " + Server(tls) +
                              "\n ddns-path = \"/nic/update?hostname=%h&myip=%i\"\n ssl = " +
                              yesNo + "\n checkip-server = " + Server(tls) +
                              "\n checkip-path = /checkip\n checkip-ssl = " + yesNo +
                              "\n hostname = joe.example.test\n}\n");
        chmod(config.c_str(), 0600);
        return CommandOutput("timeout 30 inadyn -1 -n --force --no-pidfile -l debug -f " + config +
                             " --cache-dir " + dir.Path() + " 2>&1");
    }
};

TEST_P(InadynTest, UpdatesTheNameAndFailsOnAWrongPassword) {
    const std::string wrong = Run("wrong");
    EXPECT_NE(wrong.find("Authentication failure"), std::string::npos) << wrong;
    EXPECT_EQ(knot.Records("joe"), "");
    const std::string right = Run("pw");
    EXPECT_NE(right.find("hostname=joe.example.test&myip=127.0.0.1 "), std::string::npos)
        << "the address from the check page: " << right;
    EXPECT_NE(right.find("Successful alias table update for joe.example.test"), std::string::npos)
        << right;
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 127.0.0.1", 2)) << right << service->Log();
}

INSTANTIATE_TEST_SUITE_P(OverHttpAndHttps, InadynTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Https" : "Http"; });

}  // namespace
