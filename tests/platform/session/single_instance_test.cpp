// One program per settings file: later starts hand over to the running one.
#include "platform/session/single_instance.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>

#include "support/temp_dir.h"

using platform::SingleInstance;
using testsupport::TempDir;

namespace {

int ShowRequestsAfter(const std::function<void()>& starts, SingleInstance& running) {
    int requests = 0;
    running.OnShowRequest([&requests] { ++requests; });
    starts();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    return requests;
}

TEST(SingleInstanceTest, ALaterStartOnTheSameFileHandsOverAndOtherFilesRunTheirOwn) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("a"));
    std::filesystem::create_directories(dir.File("b"));
    std::filesystem::create_directory_symlink(dir.File("a"), dir.File("link"));
    SingleInstance first(dir.File("a/kestrome.cfg"));
    ASSERT_TRUE(first.Claim());
    const int requests = ShowRequestsAfter(
        [&] {
            EXPECT_FALSE(SingleInstance(dir.File("a/kestrome.cfg")).Claim());
            EXPECT_FALSE(SingleInstance(dir.File("link/kestrome.cfg")).Claim())
                << "the same folder through a link";
            EXPECT_TRUE(SingleInstance(dir.File("b/kestrome.cfg")).Claim());
        },
        first);
    EXPECT_EQ(requests, 2);
}

TEST(SingleInstanceTest, AProgramThatDiedBlocksNoStart) {
    TempDir dir;
    pid_t crashed = fork();
    if (crashed == 0) {
        SingleInstance running(dir.File("kestrome.cfg"));
        _exit(running.Claim() ? 0 : 1);  // ends without any clean-up
    }
    int status = 0;
    waitpid(crashed, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(SingleInstance(dir.File("kestrome.cfg")).Claim());
}

}  // namespace
