// The fair queue: which party's job goes next, and jobs whose client has gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <latch>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "service/work/fair_queue.h"

using namespace service;

namespace {

// One thread, held by a first job until Release, so that every job posted
// meanwhile waits and the order they then run in is the queue's alone.
class FairQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        FairQueue::Job hold;
        hold.run = [this] {
            held_.set_value();
            release_.get_future().wait();
        };
        hold.gone = [] { return false; };
        queue.Post("holder", std::move(hold));
        held_.get_future().wait();
    }
    void Post(const std::string& party, std::latch& done, bool gone = false) {
        FairQueue::Job job;
        job.run = [this, party, &done] {
            Note(party);
            done.count_down();
        };
        job.gone = [gone] { return gone; };
        job.skip = [this, party, &done] {
            Note("skipped " + party);
            done.count_down();
        };
        queue.Post(party, std::move(job));
    }
    // The holder is let go however a test ends, so the queue's threads can join.
    void TearDown() override {
        if (!released_) {
            Release();
        }
    }
    void Release() {
        released_ = true;
        release_.set_value();
    }
    void Note(const std::string& what) {
        std::lock_guard lock(mutex_);
        order.push_back(what);
    }

    std::map<std::string, int> standing;
    FairQueue queue{1, [this](const std::string& party) { return standing[party]; }};
    std::vector<std::string> order;

private:
    std::mutex mutex_;
    std::promise<void> held_, release_;
    bool released_ = false;
};

// Lowest standing first (a party that keeps failing waits behind the others);
// among equals, the party with the fewest waiting: a first job from a quiet
// party is not pushed back by a busy one.
TEST_F(FairQueueTest, TheLowestStandingThenTheFewestWaitingGoFirst) {
    standing = {{"failing", 5}, {"busy", 0}, {"quiet", 0}};
    std::latch done(6);
    for (int i = 0; i < 3; ++i) {
        Post("busy", done);
    }
    Post("failing", done);
    Post("quiet", done);
    Post("failing", done);
    Release();
    done.wait();
    EXPECT_EQ(order,
              (std::vector<std::string>{"quiet", "busy", "busy", "busy", "failing", "failing"}));
}

TEST_F(FairQueueTest, AJobWhoseClientHasGoneIsSkippedNotRun) {
    std::latch done(3);
    Post("a", done);
    Post("b", done, true);
    Post("c", done);
    Release();
    done.wait();
    std::sort(order.begin(), order.end());  // parties of equal rank go in any order
    EXPECT_EQ(order, (std::vector<std::string>{"a", "c", "skipped b"}));
}

TEST_F(FairQueueTest, StopDropsTheWaitingJobsAndWaitsForTheRunningOne) {
    std::latch never(1);
    Post("a", never);
    EXPECT_FALSE(queue.Stop(std::chrono::milliseconds::zero())) << "the holder still runs";
    Release();
    EXPECT_TRUE(queue.Stop(std::chrono::seconds(10)));
    EXPECT_TRUE(order.empty()) << "a job waiting at the stop never runs";
}

}  // namespace
