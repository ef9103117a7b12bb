// The settings file where others can reach it: shared and sticky folders,
// links kept by dotfile managers, several writers, files no settings file is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/files/profile.h"
#include "support/temp_dir.h"

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;

std::string Read(const std::string& path, const std::string& key) {
    char buf[64];
    GetPrivateProfileString("Main", key, "default", buf, sizeof buf, path);
    return buf;
}

// Runs body in a child process; its result is the child's exit status.
int InChild(const std::function<bool()>& body) {
    pid_t child = fork();
    if (child == 0) {
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// The body as another, unprivileged user.
int AsOtherUser(const std::function<bool()>& body) {
    return InChild([&] { return setuid(kOtherUser) == 0 && body(); });
}

// Two processes write 150 keys each into the file at once; returns how many
// of their keys the file lacks afterwards.
int KeysLostByTwoWriters(const std::string& path) {
    constexpr int kKeysEach = 150;
    auto writer = [&](char name) {
        return InChild([&] {
            for (int i = 0; i < kKeysEach; ++i) {
                if (!WritePrivateProfileString("Main", name + std::to_string(i), "v", path)) {
                    return false;
                }
            }
            return true;
        });
    };
    pid_t second = fork();
    if (second == 0) {
        _exit(writer('B'));
    }
    EXPECT_EQ(writer('A'), 0);
    int status = 0;
    waitpid(second, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int lost = 0;
    for (char name : {'A', 'B'}) {
        for (int i = 0; i < kKeysEach; ++i) {
            lost += Read(path, name + std::to_string(i)) != "v";
        }
    }
    return lost;
}

class ProfileSharingTest : public ::testing::Test {
protected:
    void SetUp() override { chmod(dir.Path().c_str(), 0777); }
    TempDir dir;
    std::string path = dir.File("kestrome.cfg");
};

TEST_F(ProfileSharingTest, APlantedWideFileIsReplacedByAPrivateOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    WriteFile(path, "[Main]\nLogin=joe\n");
    chmod(path.c_str(), 0666);  // planted by root, for the other user to fill in
    ASSERT_EQ(
        AsOtherUser([&] { return WritePrivateProfileString("Main", "Password", "pw", path); }), 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, kOtherUser);
    EXPECT_EQ(Read(path, "Password"), "pw");
}

TEST_F(ProfileSharingTest, InAStickyFolderPlantedNamesBlockNothingAndNothingLeaks) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    chmod(dir.Path().c_str(), 01777);
    const std::string planted = dir.File("planted.cfg");
    WriteFile(planted, "[Main]\nLogin=joe\n");
    chmod(planted.c_str(), 0666);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t child = fork();
    if (child == 0) {
        char byte = 0;
        bool ok = setuid(kOtherUser) == 0 && read(go[0], &byte, 1) == 1 &&
                  !WritePrivateProfileString("Main", "Password", "pw", planted) &&
                  WritePrivateProfileString("Main", "Password", "pw", path);
        _exit(ok ? 0 : 1);
    }
    // Root plants the temporary name a writer of that pid used to take.
    WriteFile(path + "." + std::to_string(child) + ".tmp", "");
    ASSERT_EQ(write(go[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "root's planted file cannot be replaced; the user's own save must still work";
    EXPECT_EQ(ReadFile(planted), "[Main]\nLogin=joe\n");
    EXPECT_EQ(Read(path, "Password"), "pw");
    EXPECT_EQ(FileMode(path), 0600);
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        if (entry.path().extension() == ".tmp") {
            EXPECT_EQ(fs::file_size(entry.path()), 0u) << entry.path() << " left with content";
        }
    }
    close(go[0]);
    close(go[1]);
}

// Another user watches the shared folder and opens every temporary the moment
// it appears: not once may the opening succeed.
TEST_F(ProfileSharingTest, AWatcherNeverOpensATemporaryEvenForAMoment) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    constexpr int kSaves = 400;
    int ready[2], done[2], counts[2];
    ASSERT_EQ(pipe(ready) | pipe(done) | pipe(counts), 0);
    pid_t watcher = fork();
    if (watcher == 0) {
        int tally[2] = {0, 0};  // opened, refused
        int inotify = inotify_init1(IN_CLOEXEC);
        bool ok = setuid(kOtherUser) == 0 && inotify >= 0 &&
                  inotify_add_watch(inotify, dir.Path().c_str(), IN_CREATE) >= 0 &&
                  write(ready[1], "x", 1) == 1;
        pollfd fds[2] = {{inotify, POLLIN, 0}, {done[0], POLLIN, 0}};
        while (ok && poll(fds, 2, 10000) > 0 && !(fds[1].revents && !(fds[0].revents))) {
            alignas(inotify_event) char events[4096];
            const ssize_t n = read(inotify, events, sizeof events);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                const int fd = open(dir.File(event->name).c_str(), O_RDONLY | O_CLOEXEC);
                tally[0] += fd >= 0;
                tally[1] += fd < 0 && errno == EACCES;
                if (fd >= 0) {
                    close(fd);
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        _exit(ok && write(counts[1], tally, sizeof tally) == sizeof tally ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    for (int i = 0; i < kSaves; ++i) {
        WritePrivateProfileString("Main", "Password", "secret" + std::to_string(i % 2), path);
    }
    ASSERT_EQ(write(done[1], "x", 1), 1);
    int tally[2] = {-1, -1};
    EXPECT_EQ(read(counts[0], tally, sizeof tally), static_cast<ssize_t>(sizeof tally));
    waitpid(watcher, nullptr, 0);
    EXPECT_EQ(tally[0], 0) << "temporaries opened by another user";
    EXPECT_GT(tally[1], 0) << "the watcher saw no temporary at all";
    for (int fd : {ready[0], ready[1], done[0], done[1], counts[0], counts[1]}) {
        close(fd);
    }
}

TEST_F(ProfileSharingTest, ALinkedFileIsUpdatedWhereItLivesAndTheLinkKept) {
    fs::create_directory(dir.File("dotfiles"));
    fs::create_directory(dir.File("home"));
    const std::string target = dir.File("dotfiles/kestrome.cfg");
    const std::string link = dir.File("home/kestrome.cfg");
    WriteFile(target, "[Main]\nLogin=joe\n");
    fs::create_symlink("../dotfiles/kestrome.cfg", link);
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "ann", link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[Main]\nLogin=ann\n");
    EXPECT_EQ(FileMode(target), 0600);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("home")), fs::directory_iterator()), 1);

    fs::remove(target);
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "new", link)) << "dangling link";
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[Main]\nLogin=new\n");

    fs::remove(link);
    fs::create_symlink("../missing/kestrome.cfg", link);
    EXPECT_FALSE(WritePrivateProfileString("Main", "Login", "new", link));
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(ProfileSharingTest, ConcurrentWritersLoseNoKey) {
    EXPECT_EQ(KeysLostByTwoWriters(path), 0);
}

// In a folder too deep for absolute file names the file is named relative to
// the current folder; the folder it is in must still be this one.
TEST_F(ProfileSharingTest, ARelativeNameWorksInTheCurrentFolder) {
    ScopedCurrentDir inDir(dir.Path());
    const pid_t dead = fork();
    if (dead == 0) {
        _exit(0);
    }
    waitpid(dead, nullptr, 0);
    const std::string stale = "kestrome.cfg." + std::to_string(dead) + ".0123456789abcdef.tmp";
    WriteFile(dir.File(stale), "[Main]\nLogin=half");
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "joe", "kestrome.cfg"));
    EXPECT_FALSE(FileExists(dir.File(stale))) << "a dead writer's leftover is removed";

    EXPECT_EQ(KeysLostByTwoWriters("kestrome.cfg"), 0) << "writers take turns";

    fs::remove(dir.File("kestrome.cfg"));
    fs::create_directory(dir.File("dotfiles"));
    WriteFile(dir.File("dotfiles/kestrome.cfg"), "[Main]\nLogin=joe\n");
    fs::create_symlink("dotfiles/kestrome.cfg", dir.File("kestrome.cfg"));
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "ann", "kestrome.cfg"));
    EXPECT_TRUE(fs::is_symlink(dir.File("kestrome.cfg")));
    EXPECT_EQ(ReadFile(dir.File("dotfiles/kestrome.cfg")), "[Main]\nLogin=ann\n");
}

TEST_F(ProfileSharingTest, AFileFarLargerThanSettingsReadsAsMissingAndIsKept) {
    const std::string huge = "[Main]\nLogin=joe\n" + std::string(2 << 20, ';');
    WriteFile(path, huge);
    EXPECT_EQ(Read(path, "Login"), "default");
    EXPECT_FALSE(WritePrivateProfileString("Main", "Login", "ann", path));
    EXPECT_EQ(ReadFile(path).size(), huge.size());
}

}  // namespace
