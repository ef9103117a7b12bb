// A dialog window's lifecycle: work posted before the window manager has
// mapped the window waits for it, in order, and nothing outlives the dialog.
#include <gtest/gtest.h>

#include <vector>

#include "platform/dialogs/window_lifecycle.h"

using platform::WindowLifecycle;

namespace {

// Defers a piece of work that records its number; true when it was kept.
bool DeferNumber(WindowLifecycle& life, std::vector<int>& ran, int number) {
    WindowLifecycle::Work work = [&ran, number] { ran.push_back(number); };
    const bool kept = life.Defer(work);
    if (!kept) {
        work();  // the caller runs what may run now
    }
    return kept;
}

void RunAll(std::vector<WindowLifecycle::Work> works) {
    for (auto& work : works) {
        work();
    }
}

}  // namespace

TEST(WindowLifecycleTest, WorkWaitsForTheMapAndNeverOutlivesTheDialog) {
    WindowLifecycle life;
    std::vector<int> ran;
    life.Open();
    EXPECT_TRUE(DeferNumber(life, ran, 1)) << "while the window is being built";
    life.Show();
    EXPECT_TRUE(DeferNumber(life, ran, 2)) << "shown but not yet mapped";
    EXPECT_TRUE(ran.empty());
    RunAll(life.Exposed());
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_FALSE(DeferNumber(life, ran, 3)) << "once shown, work runs at once";
    EXPECT_TRUE(life.Exposed().empty()) << "a later expose hands back nothing again";

    // A dialog ended before its window was mapped drops what waited, and the
    // next modal run starts with nothing left over.
    life.Open();
    DeferNumber(life, ran, 4);
    life.Show();
    life.End();
    EXPECT_TRUE(DeferNumber(life, ran, 5));
    EXPECT_TRUE(life.Exposed().empty());
    EXPECT_TRUE(life.HasEnded());
    life.Open();
    life.Show();
    EXPECT_TRUE(life.Exposed().empty());
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}
