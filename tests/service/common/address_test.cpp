// Addresses as the service reads and counts them.
#include <gtest/gtest.h>

#include "service/common/address.h"

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

}  // namespace
