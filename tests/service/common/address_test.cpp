// Addresses and credentials as the service reads them.
#include <gtest/gtest.h>

#include "service/common/address.h"
#include "service/common/basic_auth.h"

using namespace service;

namespace {

TEST(HostPortTest, ParsesHostAndPort) {
    HostPort a;
    EXPECT_TRUE(ParseHostPort("127.0.0.1:8245", a));
    EXPECT_EQ(a.host, "127.0.0.1");
    EXPECT_EQ(a.port, 8245);
    EXPECT_TRUE(ParseHostPort("[::1]:99", a));
    EXPECT_EQ(a.host, "::1");
    for (const char* bad : {"127.0.0.1", ":80", "host:", "host:0", "host:65536", "host:8x"}) {
        EXPECT_FALSE(ParseHostPort(bad, a)) << bad;
    }
}

// An IPv4 address stands for itself; an IPv6 address for its /64, however
// written; anything else is left as it is.
TEST(AddressTest, BlocksAndCanonicalForms) {
    EXPECT_EQ(AddressBlock("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(AddressBlock("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(AddressBlock("2001:DB8:1:2::ffff"), "2001:db8:1:2::/64");
    EXPECT_EQ(AddressBlock("::1"), "::/64");
    EXPECT_EQ(AddressBlock("fe80::1"), "fe80::/64");
    EXPECT_EQ(AddressBlock("not an address"), "not an address");
    EXPECT_EQ(CanonicalAddress("2001:DB8:0:0::1"), "2001:db8::1");
    EXPECT_EQ(CanonicalAddress("192.0.2.7"), "192.0.2.7");
    for (const char* bad : {"192.0.2", "192.0.2.7:80", "[::1]", "unknown", ""}) {
        EXPECT_EQ(CanonicalAddress(bad), "") << bad;
    }
}

}  // namespace

// Basic credentials as clients send them: the scheme in any case, padding
// or none, a colon in the password kept; anything else is no credentials.
TEST(BasicAuthorizationTest, ReadsUserAndPasswordAndRefusesTheRest) {
    const auto read = [](const std::string& field) {
        const auto c = ParseBasicAuthorization(field);
        return c ? c->user + "|" + c->password : std::string("none");
    };
    EXPECT_EQ(read("Basic am9lOnB3"), "joe|pw");
    EXPECT_EQ(read("bAsIc   am9lOnA6dzo="), "joe|p:w:");
    EXPECT_EQ(read("Basic am9lOnA6dzo"), "joe|p:w:");
    EXPECT_EQ(read("Basic Ojo="), "|:");
    for (const char* bad : {"", "Basic", "Basic am9l", "Bearer am9lOnB3", "Basic am9lOn*3",
                            "Basic am9lOnB3a", "Basicam9lOnB3"}) {
        EXPECT_EQ(read(bad), "none") << bad;
    }
}
