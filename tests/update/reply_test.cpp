#include "update/reply.h"

#include <gtest/gtest.h>

using namespace update;

namespace {

TEST(ReplyTest, CodeIsTheFirstThreeCharactersReadLikeAtoi) {
    EXPECT_EQ(ReplyCode(ReplyCodeText("100123.123.123.123")), 100);
    EXPECT_EQ(ReplyCode(ReplyCodeText("1001")), 100);
    EXPECT_EQ(ReplyCode(ReplyCodeText(" 99")), 99);
    EXPECT_EQ(ReplyCode(ReplyCodeText("-1x")), -1);
    EXPECT_EQ(ReplyCode(ReplyCodeText("000")), 0);
    EXPECT_EQ(ReplyCode(ReplyCodeText("abc")), 0);
    EXPECT_EQ(ReplyCode(ReplyCodeText("")), 0);
    EXPECT_EQ(ReplyCodeText("10"), "10");
}

TEST(ReplyTest, AddressIsEverythingFromTheFourthCharacter) {
    EXPECT_EQ(ReplyAddress("100 1.2.3.4"), " 1.2.3.4");
    EXPECT_EQ(ReplyAddress("100"), "");
    EXPECT_EQ(ReplyAddress("1001"), "1");
}

TEST(ReplyTest, TrailingWhiteSpaceOnlyIsRemoved) {
    EXPECT_EQ(TrimTrailingWhitespace(" 100 1.2.3.4 \t\r\n\v\f"), " 100 1.2.3.4");
    EXPECT_EQ(TrimTrailingWhitespace("\r\n"), "");
}

TEST(ReplyTest, EachCodeHasItsTextAndEffect) {
    struct Row {
        int code;
        const char* text;
        bool ends;
    } rows[] = {
        {0, "No response from website. \r\n", false},
        {100, "Information Updated. \r\n", false},
        {101, "User does not exist, please create one. \r\n", true},
        {102, "Bad password, check or create new user. \r\n", true},
        {103,
         "User BANNED. If you feel you recieved this in error, please contact the programmer. "
         "\r\n",
         true},
        {99, "Unrecongized response from server. \r\n", false},
        {-1, "Unrecongized response from server. \r\n", false},
    };
    for (const Row& row : rows) {
        ReplyOutcome o = OutcomeOf(row.code);
        EXPECT_EQ(o.statusText, row.text) << row.code;
        EXPECT_EQ(o.endsConnection, row.ends) << row.code;
    }
    EXPECT_TRUE(UnreachableOutcome().endsConnection);
    EXPECT_EQ(UnreachableOutcome().statusText,
              "Either you are not connected to the internet or the server is currently down. "
              "Please try again later. \r\n");
}

TEST(ReplyTest, TimeStampHasNoLeadingZeros) {
    EXPECT_EQ(TimeStampLine(QTime(14, 3, 9)), "14:3:9 \r\n");
    EXPECT_EQ(TimeStampLine(QTime(0, 0, 0)), "0:0:0 \r\n");
    EXPECT_EQ(TimeStampLine(QTime(23, 59, 59)), "23:59:59 \r\n");
}

}  // namespace
