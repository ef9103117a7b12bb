// DNS publication on its own: a store of ours, a real name server (Knot DNS)
// started by each test, and the publisher between them.
#include <gtest/gtest.h>
#include <unistd.h>

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
        ASSERT_EQ(store->RecordUpdate(name, "hash", address, 1000),
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
    EXPECT_TRUE(knot.WaitFor("joe", "AAAA 60 2001:db8::7", 10)) << Log();
    EXPECT_TRUE(StoreSays("Joe", "2001:db8::7"));
    ASSERT_TRUE(store->Remove("Joe"));
    EXPECT_TRUE(knot.WaitFor("joe", "", 10)) << Log();
    EXPECT_NE(Log().find("DNS joe.example.test. withdrawn"), std::string::npos) << Log();
}

// A login that is no DNS label is told once and never sent, and holds no
// other name back.
TEST_F(PublisherTest, ALoginThatIsNoLabelIsToldOnceAndHoldsNothingBack) {
    for (const char* name : {"not_a_label", "ann"}) {
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
}

}  // namespace
