// The work pool: stopping drops what has not started and waits only as long
// as it is told for what runs; the processor count follows the affinity mask.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <future>
#include <thread>

#include "service/work/work_pool.h"

using namespace service;

namespace {

TEST(WorkPoolTest, StopDropsWhatWaitsAndWaitsForWhatRuns) {
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> ranAfter = 0;
    WorkPool pool(1);
    pool.Post([&started, released] {
        started.set_value();
        released.wait();
    });
    for (int i = 0; i < 5; ++i) {
        pool.Post([&ranAfter] { ++ranAfter; });
    }
    started.get_future().wait();
    EXPECT_FALSE(pool.Stop(std::chrono::milliseconds::zero())) << "a job is still running";
    release.set_value();
    EXPECT_TRUE(pool.Stop(std::chrono::seconds(10))) << "the running job ended";
    pool.Post([&ranAfter] { ++ranAfter; });
    EXPECT_TRUE(pool.Stop(std::chrono::seconds(10)));
    EXPECT_EQ(ranAfter, 0) << "jobs waiting at the stop, and posted after it, never run";
}

TEST(WorkPoolTest, ProcessorCountIsWhatThisThreadMayRunOn) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(ProcessorCount(), CPU_COUNT(&all));
    int narrowed = 0;
    std::thread([&narrowed, &all] {
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &all)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        if (sched_setaffinity(0, sizeof one, &one) == 0) {
            narrowed = ProcessorCount();
        }
    }).join();
    EXPECT_EQ(narrowed, 1) << "as taskset or a container's CPU set would narrow it";
}

}  // namespace
