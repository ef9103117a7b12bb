// DNS publication on its own: a store of ours, a real name server (Knot DNS)
// started by each test, and the publisher between them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "service/dns/names.h"
#include "service/dns/publisher.h"
#include "service/store/open_store.h"
#include "support/knot_server.h"
#include "support/temp_dir.h"

using namespace service;
using testsupport::KnotServer;

namespace {

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/sbin/knotd", X_OK) != 0) {
            GTEST_SKIP() << "Knot DNS is not installed (scripts/install-deps installs it)";
        }
        ASSERT_EQ(knot.Trouble(), "");
        ASSERT_NE(store, nullptr) << error;
        target.host = "127.0.0.1";
        target.port = knot.Port();
        target.zone = ZoneName(KnotServer::kZone);
        ASSERT_TRUE(ReadTsigKey(knot.KeyFile(), target.key, error)) << error;
    }
    void Record(const std::string& name, const std::string& address) {
        ASSERT_EQ(
            store->RecordUpdate(name, "hash", {"", AddressUpdate::Of(address)}, address, 1000),
            AccountStore::Recording::Recorded);
    }
    // Waits a few seconds for what the store says name's records show.
    bool StoreSays(const std::string& name, const std::string& published) {
        for (int i = 0; i < 100; ++i) {
            const std::optional<Account> account = store->Find(name);
            if (account && account->publishedAddress == published) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    std::string Log() {
        std::lock_guard lock(mutex_);
        return log_;
    }

    testsupport::TempDir dir;
    KnotServer knot{dir.Path()};
    std::string error;
    std::unique_ptr<AccountStore> store = OpenAccountStore(dir.File("accounts.db"), error);
    DnsTarget target;
    LineSink sink = [this](const std::string& lines) {
        std::lock_guard lock(mutex_);
        log_ += lines;
    };

private:
    std::mutex mutex_;
    std::string log_;
};

// What was recorded before the publisher started is published at its start,
// a change it is nudged about follows, and a removal withdraws the name.
TEST_F(PublisherTest, StartChangeAndRemovalReachTheNameServer) {
    ASSERT_TRUE(store->Add("Joe", "hash"));
    Record("Joe", "192.0.2.1");
    DnsPublication publication(*store, target, sink);
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.1", 10)) << Log();
    EXPECT_TRUE(StoreSays("Joe", "192.0.2.1"));
    Record("Joe", "2001:db8::7");
    publication.Nudge();
    EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.1\nAAAA 60 2001:db8::7", 10)) << Log();
    EXPECT_TRUE(StoreSays("Joe", "192.0.2.1,2001:db8::7"));
    ASSERT_TRUE(store->Remove("Joe"));
    EXPECT_TRUE(knot.WaitFor("joe", "", 10)) << Log();
    EXPECT_NE(Log().find("DNS joe.example.test. withdrawn"), std::string::npos) << Log();
}

// A login that is no DNS label is told once and never sent, and holds no
// other name back; one with a line break cannot forge a line of the log.
TEST_F(PublisherTest, ALoginThatIsNoLabelIsToldOnceAndHoldsNothingBack) {
    for (const char* name : {"not_a_label", "ann", "x\nkestrome-service: forged"}) {
        ASSERT_TRUE(store->Add(name, "hash"));
        Record(name, "192.0.2.9");
    }
    DnsPublication publication(*store, target, sink);
    EXPECT_TRUE(knot.WaitFor("ann", "A 60 192.0.2.9", 10)) << Log();
    Record("not_a_label", "192.0.2.10");
    publication.Nudge();
    Record("ann", "192.0.2.11");
    publication.Nudge();
    EXPECT_TRUE(knot.WaitFor("ann", "A 60 192.0.2.11", 10)) << Log();
    const std::string told = "account \"not_a_label\" is not published in DNS";
    const std::string log = Log();
    ASSERT_NE(log.find(told), std::string::npos) << log;
    EXPECT_EQ(log.find(told, log.find(told) + 1), std::string::npos) << "told once: " << log;
    EXPECT_EQ(log.find("\nkestrome-service: forged"), std::string::npos) << log;
    EXPECT_NE(log.find("account \"x\\x0Akestrome-service: forged\" is not published"),
              std::string::npos)
        << log;
}

// Of two accounts whose names differ only in case (the store refuses the
// second, so another program put it in), only the older is published; the
// younger can neither overwrite nor withdraw its name.
TEST_F(PublisherTest, OnlyTheOlderOfTwoCaseTwinsHasTheName) {
    ASSERT_TRUE(store->Add("alice", "hash"));
    Record("alice", "192.0.2.60");
    EXPECT_FALSE(store->Add("Alice", "hash")) << "refused regardless of case";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.File("accounts.db").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO accounts(name, password_hash, created)"
                           " VALUES ('Alice', 'hash', 99)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    Record("Alice", "192.0.2.61");
    DnsPublication publication(*store, target, sink);
    EXPECT_TRUE(knot.WaitFor("alice", "A 60 192.0.2.60", 10)) << Log();
    ASSERT_TRUE(store->Remove("Alice"));
    Record("alice", "192.0.2.62");
    publication.Nudge();
    EXPECT_TRUE(knot.WaitFor("alice", "A 60 192.0.2.62", 10)) << Log();
    EXPECT_EQ(Log().find("192.0.2.61"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("withdrawn"), std::string::npos) << Log();
}

// Accounts that hold one of the zone's own names (from before such names
// were refused, or reserved since) are never published, and told once.
TEST_F(PublisherTest, TheZonesOwnNamesAreNeverPublished) {
    target.reserved = {"vpn"};
    for (const char* name : {"ns", "www", "VPN", "ann"}) {
        ASSERT_TRUE(store->Add(name, "hash"));
        Record(name, "192.0.2.50");
    }
    DnsPublication publication(*store, target, sink);
    EXPECT_TRUE(knot.WaitFor("ann", "A 60 192.0.2.50", 10)) << Log();
    EXPECT_EQ(knot.Records("ns"), "A 300 127.0.0.1") << "the zone's name server kept";
    EXPECT_EQ(knot.Records("www"), "");
    EXPECT_EQ(knot.Records("vpn"), "");
    EXPECT_NE(
        Log().find("account \"VPN\" is not published in DNS: the name is one of the zone's own"),
        std::string::npos)
        << Log();
}

// The name server refuses one name (its rules protect it); every other name is
// published at once, the refused one is tried again after 1 s, then 2 s, and
// the log says which name and why.
TEST_F(PublisherTest, ANameTheServerRefusesHoldsOnlyItself) {
    testsupport::TempDir otherDir;
    KnotServer guarded(otherDir.Path(), "aaa");
    ASSERT_EQ(guarded.Trouble(), "");
    target.port = guarded.Port();
    std::vector<std::string> names = {"aaa"};
    for (int i = 0; i < 10; ++i) {
        names.push_back("n" + std::to_string(i));
    }
    for (const std::string& name : names) {
        ASSERT_TRUE(store->Add(name, "hash"));
        Record(name, "192.0.2.20");
    }
    DnsPublication publication(*store, target, sink);
    for (std::size_t i = 1; i < names.size(); ++i) {
        EXPECT_TRUE(guarded.WaitFor(names[i], "A 60 192.0.2.20", 3)) << names[i] << Log();
    }
    const std::string refused =
        "DNS update of aaa.example.test. failed: the name server refused it (";
    for (int i = 0; i < 100 && Log().find("tried again in 2 s") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string log = Log();
    EXPECT_NE(log.find(refused), std::string::npos) << log;
    EXPECT_NE(log.find("; tried again in 1 s"), std::string::npos) << log;
    EXPECT_NE(log.find("; tried again in 2 s"), std::string::npos) << log;
    EXPECT_EQ(log.find("tried again in 4 s"), std::string::npos) << log;
    EXPECT_EQ(guarded.Records("aaa"), "");
}

// A UDP socket bound to address on a free port (-1 when it cannot be made).
int BoundUdp(const char* address, int& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, address, &at.sin_addr);
    socklen_t length = sizeof at;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
        return -1;
    }
    port = ntohs(at.sin_port);
    return fd;
}

// Between the publisher and the name server: hands every update on to the
// server and its answer back, except that an attacker may answer each update
// first (an unsigned REFUSED with the update's own ID, from the relay's own
// address and from another), and the first answers may be lost.
class NameServerRelay {
public:
    NameServerRelay(int serverPort, bool forge, int answersLost)
        : forge_(forge), answersLost_(answersLost) {
        relay_ = BoundUdp("127.0.0.1", port_);
        int unused = 0;
        forger_ = BoundUdp("127.0.0.2", unused);
        upstream_ = BoundUdp("127.0.0.1", unused);
        server_.sin_family = AF_INET;
        server_.sin_port = htons(static_cast<std::uint16_t>(serverPort));
        inet_pton(AF_INET, "127.0.0.1", &server_.sin_addr);
        thread_ = std::thread([this] { Run(); });
    }
    ~NameServerRelay() {
        done_ = true;
        thread_.join();
        for (const int fd : {relay_, forger_, upstream_}) {
            close(fd);
        }
    }
    bool Works() const { return relay_ >= 0 && forger_ >= 0 && upstream_ >= 0; }
    int Port() const { return port_; }

private:
    void Run() {
        unsigned char message[65536];
        while (!done_) {
            pollfd ready{relay_, POLLIN, 0};
            sockaddr_in publisher{};
            socklen_t length = sizeof publisher;
            if (poll(&ready, 1, 50) <= 0) {
                continue;
            }
            const ssize_t size = recvfrom(relay_, message, sizeof message, 0,
                                          reinterpret_cast<sockaddr*>(&publisher), &length);
            if (size < 12) {
                continue;
            }
            const auto* to = reinterpret_cast<const sockaddr*>(&publisher);
            if (forge_) {
                // The update's ID, QR set, opcode UPDATE, REFUSED, no records.
                const unsigned char forged[12] = {message[0], message[1], 0x80 | (5 << 3), 5};
                sendto(forger_, forged, sizeof forged, 0, to, length);
                sendto(relay_, forged, sizeof forged, 0, to, length);
            }
            sendto(upstream_, message, std::size_t(size), 0,
                   reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
            pollfd answer{upstream_, POLLIN, 0};
            if (poll(&answer, 1, 2000) > 0) {
                const ssize_t got = recv(upstream_, message, sizeof message, 0);
                if (answersLost_ > 0) {
                    --answersLost_;
                } else {
                    sendto(relay_, message, std::size_t(std::max<ssize_t>(got, 0)), 0, to, length);
                }
            }
        }
    }

    const bool forge_;
    int answersLost_;
    int relay_ = -1, forger_ = -1, upstream_ = -1, port_ = 0;
    sockaddr_in server_{};
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

// Neither forged refusal is taken for the name server's answer, which comes
// after them.
TEST_F(PublisherTest, ForgedAnswersAreNotTakenForTheNameServers) {
    NameServerRelay relay(knot.Port(), true, 0);
    ASSERT_TRUE(relay.Works());
    target.port = relay.Port();
    ASSERT_TRUE(store->Add("joe", "hash"));
    Record("joe", "192.0.2.30");
    {
        DnsPublication publication(*store, target, sink);
        EXPECT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.30", 10)) << Log();
        EXPECT_TRUE(StoreSays("joe", "192.0.2.30"));
    }
    EXPECT_EQ(Log().find("server refused"), std::string::npos) << Log();
}

// The name server applies an update whose answer is lost, and the account is
// removed before any answer came: its name is withdrawn all the same, also by
// a publisher started afterwards.
TEST_F(PublisherTest, ANameRemovedAfterAnAnswerWasLostIsWithdrawn) {
    NameServerRelay relay(knot.Port(), false, 1);
    ASSERT_TRUE(relay.Works());
    target.port = relay.Port();
    ASSERT_TRUE(store->Add("joe", "hash"));
    Record("joe", "192.0.2.40");
    {
        DnsPublication publication(*store, target, sink);
        ASSERT_TRUE(knot.WaitFor("joe", "A 60 192.0.2.40", 10)) << Log();
        ASSERT_TRUE(store->Remove("joe"));
    }
    DnsPublication again(*store, target, sink);
    EXPECT_TRUE(knot.WaitFor("joe", "", 10)) << Log();
}

}  // namespace
