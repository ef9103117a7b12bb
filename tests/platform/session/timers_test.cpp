#include "platform/session/timers.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/fakes.h"

namespace {

struct Recorder : platform::TimerOwner {
    std::vector<unsigned> fired;
    std::function<void(unsigned)> onFire;
    void OnTimerFired(unsigned id) override {
        fired.push_back(id);
        if (onFire) {
            onFire(id);
        }
    }
};

TEST(QtTimersTest, SetRestartsKillStopsAndKillingAStoppedTimerDoesNothing) {
    platform::QtTimers timers;
    Recorder owner;
    timers.Kill(&owner, 1);
    EXPECT_FALSE(timers.IsRunning(&owner, 1));
    timers.Set(&owner, 1, 60000);
    timers.Set(&owner, 1, 599940000);
    EXPECT_TRUE(timers.IsRunning(&owner, 1));
    timers.Set(&owner, 1500, 1000);
    timers.Kill(&owner, 1);
    EXPECT_FALSE(timers.IsRunning(&owner, 1));
    EXPECT_TRUE(timers.IsRunning(&owner, 1500));
    timers.KillAll(&owner);
    EXPECT_FALSE(timers.IsRunning(&owner, 1500));
}

TEST(VirtualTimersTest, FiresEachDueTimeInOrderAndRestartsCountFromTheSet) {
    testsupport::VirtualTimers timers;
    Recorder owner;
    timers.Set(&owner, 1, 300);
    timers.Set(&owner, 1500, 200);
    timers.Advance(600);
    EXPECT_EQ(owner.fired, (std::vector<unsigned>{1500, 1, 1500, 1, 1500}));
    timers.Advance(250);
    timers.Set(&owner, 1, 300);  // restart at 850: next firing at 1150
    owner.fired.clear();
    timers.Advance(299);
    EXPECT_EQ(owner.fired, (std::vector<unsigned>{1500}));
}

TEST(VirtualTimersTest, MissedPeriodsWhileBusyFireOnceAndKeepTheRhythm) {
    testsupport::VirtualTimers timers;
    Recorder owner;
    timers.Set(&owner, 1, 100);
    timers.Busy(350);
    timers.Advance(0);
    EXPECT_EQ(owner.fired.size(), 1u);
    EXPECT_EQ(timers.DueIn(1), 50);
}

TEST(VirtualTimersTest, TimerKilledByAnotherTimersHandlerDoesNotFire) {
    testsupport::VirtualTimers timers;
    Recorder owner;
    owner.onFire = [&](unsigned id) {
        if (id == 1500) {
            timers.Kill(&owner, 1);
        }
    };
    timers.Set(&owner, 1500, 100);
    timers.Set(&owner, 1, 150);
    timers.Advance(200);
    EXPECT_EQ(owner.fired, (std::vector<unsigned>{1500, 1500}));
}

}  // namespace
