// The settings file where others can reach it: shared and sticky folders,
// links kept by dotfile managers, several writers, files no settings file is.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/profile.h"
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
    EXPECT_EQ(lost, 0);
}

TEST_F(ProfileSharingTest, AFileFarLargerThanSettingsReadsAsMissingAndIsKept) {
    const std::string huge = "[Main]\nLogin=joe\n" + std::string(2 << 20, ';');
    WriteFile(path, huge);
    EXPECT_EQ(Read(path, "Login"), "default");
    EXPECT_FALSE(WritePrivateProfileString("Main", "Login", "ann", path));
    EXPECT_EQ(ReadFile(path).size(), huge.size());
}

}  // namespace
