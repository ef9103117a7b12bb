// Which names may be published, and how they are written in DNS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/dns/names.h"

using namespace service;

namespace {

TEST(DnsNamesTest, ZonesAreLowerCaseWithTheirFinalDot) {
    EXPECT_EQ(ZoneName("Example.TEST"), "example.test.");
    EXPECT_EQ(ZoneName("example.test."), "example.test.");
    EXPECT_EQ(ZoneName("_acme.example.test"), "_acme.example.test.");
    for (const std::string& bad : std::vector<std::string>{
             "", ".", "a..b", "-a.test", "a-.test", "a b.test", std::string(64, 'a') + ".test",
             std::string(250, 'a') + ".test"}) {
        EXPECT_EQ(ZoneName(bad), "") << bad;
    }
}

TEST(DnsNamesTest, OnlyLabelsOfLettersDigitsAndHyphensArePublished) {
    for (const std::string& good :
         std::vector<std::string>{"joe", "JOE", "a-b", "0", std::string(63, 'x')}) {
        EXPECT_TRUE(PublishableLabel(good)) << good;
    }
    for (const std::string& bad : std::vector<std::string>{
             "", "-joe", "joe-", "jo_e", "jo.e", "jo e", "jos\xC3\xA9", std::string(64, 'x')}) {
        EXPECT_FALSE(PublishableLabel(bad)) << bad;
    }
    EXPECT_EQ(DnsName("JoE", "example.test."), "joe.example.test.");
}

// An internationalized name's ASCII form is published only when it is what
// IDNA makes of a valid name.
TEST(DnsNamesTest, XnLabelsArePublishedOnlyWhenTheyDecodeToAValidName) {
    for (const std::string& good : std::vector<std::string>{"xn--bcher-kva", "XN--Bcher-KVA"}) {
        EXPECT_TRUE(PublishableLabel(good)) << good;
    }
    // Not Punycode; decodes to nothing; to symbols IDNA2008 disallows.
    for (const std::string& bad :
         std::vector<std::string>{"xn--", "xn--zz", "xn--a", "xn--n3h", "xn--ls8h"}) {
        EXPECT_FALSE(PublishableLabel(bad)) << bad;
    }
}

}  // namespace
