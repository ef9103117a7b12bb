// The summary of refused requests: the first refusal of an address's minute
// is logged, the rest counted and told once the minute is over.
#include <gtest/gtest.h>

#include "service/common/refusal_summary.h"

using namespace service;

namespace {

TEST(RefusalSummaryTest, OneLineAMinuteThenTheCountOfTheRest) {
    RefusalSummary summary;
    std::string before;
    EXPECT_TRUE(summary.Log("10.0.0.1", 1000, before));
    EXPECT_EQ(before, "");
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(summary.Log("10.0.0.1", 1010 + i, before)) << "counted, not logged";
    }
    EXPECT_TRUE(summary.Log("10.0.0.2", 1020, before)) << "another address has its own minute";
    EXPECT_EQ(summary.Over(1059), "") << "no minute is over yet";
    EXPECT_TRUE(summary.Log("10.0.0.1", 1060, before)) << "a new minute is logged again";
    EXPECT_EQ(before, "10.0.0.1 4 more requests refused status=429 within a minute\n");
    EXPECT_EQ(summary.Over(1080), "") << "10.0.0.2 had nothing more to tell";
    EXPECT_FALSE(summary.Log("10.0.0.1", 1061, before));
    EXPECT_EQ(summary.Over(1061, true),
              "10.0.0.1 1 more requests refused status=429 within a minute\n")
        << "everything is told at the stop";
}

TEST(RefusalSummaryTest, AddressesBeyondTheTableAreCountedTogether) {
    RefusalSummary summary(2);
    std::string before;
    EXPECT_TRUE(summary.Log("10.0.0.1", 1000, before));
    EXPECT_TRUE(summary.Log("10.0.0.2", 1000, before));
    EXPECT_FALSE(summary.Log("10.0.0.3", 1000, before));
    EXPECT_FALSE(summary.Log("10.0.0.4", 1001, before));
    EXPECT_EQ(summary.Over(1002),
              "kestrome-service: 2 requests refused status=429 from further addresses\n");
    EXPECT_EQ(summary.Over(1003), "") << "told once";
}

}  // namespace
