// The table of failed logins per address block.
#include <gtest/gtest.h>

#include "service/auth/password_check.h"

using namespace service;

namespace {

// An IPv6 /64 counts as one address, and an address refused for its minute
// stays refused however many other addresses fail meanwhile: the table of
// counts is bounded by dropping the oldest addresses still heard, never the
// refused ones.
TEST(PasswordCheckTest, ARefusedAddressStaysRefusedWhateverOthersDo) {
    PasswordCheck limited(PasswordCheck::Limits{.maxFailures = 3, .maxAddresses = 8});
    for (const char* address : {"2001:db8::1", "2001:db8::2", "2001:db8::ffff:3"}) {
        limited.failures.Failed(address, 1000);
    }
    EXPECT_TRUE(limited.failures.Refused("2001:db8::9", 1000)) << "the same /64";
    EXPECT_FALSE(limited.failures.Refused("2001:db8:0:1::1", 1000)) << "the next /64";
    for (int i = 0; i < 1000; ++i) {
        limited.failures.Failed("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                                1001);
    }
    EXPECT_TRUE(limited.failures.Refused("2001:db8::1", 1059));
    EXPECT_FALSE(limited.failures.Refused("2001:db8::1", 1060)) << "heard again after its minute";
    EXPECT_TRUE(limited.failures.Reserve("10.2.0.1", 1001)) << "new addresses are still counted";
}

// A table full of refused addresses takes newcomers again once their minute
// is over: the refused entries are reclaimed.
TEST(PasswordCheckTest, RefusedAddressesWhoseMinuteIsOverMakeRoom) {
    PasswordCheck limited(PasswordCheck::Limits{.maxFailures = 3, .maxAddresses = 8});
    for (int a = 0; a < 8; ++a) {
        for (int i = 0; i < 3; ++i) {
            limited.failures.Failed("10.3.0." + std::to_string(a), 1000);
        }
    }
    ASSERT_TRUE(limited.failures.Refused("10.3.0.7", 1000));
    for (int n = 0; n < 20; ++n) {
        const std::string newcomer = "10.4.0." + std::to_string(n);
        EXPECT_TRUE(limited.failures.Reserve(newcomer, 1061)) << newcomer;
        limited.failures.Settle(newcomer, false, 1061);
        EXPECT_FALSE(limited.failures.Refused(newcomer, 1061)) << newcomer;
    }
}

}  // namespace
