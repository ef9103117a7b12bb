// The settings file survives writers killed at any moment, and a file the
// program may not read or write is left alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "platform/files/profile.h"
#include "support/temp_dir.h"

using testsupport::TempDir;

namespace {

const std::vector<std::pair<std::string, std::string>> kKeys = {
    {"Main", "Login"},
    {"Main", "Password"},
    {"Options", "SavePassword"},
    {"Options", "AttemptReconnect"},
    {"Options", "MinimizeOnStartUp"},
    {"Options", "ConnectOnStartUp"},
    {"Options", "RefreshInterval"},
    {"Options", "ConnectRetryInterval"},
};

// The values a writer puts in: each key cycles through a few of different lengths.
std::string ValueFor(std::size_t round) {
    return std::string(round % 7 + 1, char('a' + round % 26));
}

[[noreturn]] void WriteForever(const std::string& path) {
    for (std::size_t round = 0;; ++round) {
        const auto& [section, key] = kKeys[round % kKeys.size()];
        platform::WritePrivateProfileString(section, key, ValueFor(round), path);
    }
}

std::size_t TemporaryFiles(const std::string& dir) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        count += entry.path().filename() != "kestrome.cfg";
    }
    return count;
}

TEST(CrashSafetyTest, WritersKilledAtRandomNeverTearTheFile) {
    TempDir dir;
    const std::string path = dir.File("kestrome.cfg");
    std::set<std::string> written{"initial"};
    for (std::size_t round = 0; round < 64; ++round) {
        written.insert(ValueFor(round));
    }
    for (const auto& [section, key] : kKeys) {
        platform::WritePrivateProfileString(section, key, "initial", path);
    }
    std::mt19937 random(12345);
    constexpr int kKills = 200;
    for (int i = 0; i < kKills; ++i) {
        pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            WriteForever(path);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        for (const auto& [section, key] : kKeys) {
            char value[128];
            platform::GetPrivateProfileString(section, key, "<missing>", value, sizeof value, path);
            ASSERT_TRUE(written.contains(value))
                << "kill " << i << ": " << key << " holds '" << value << "'";
        }
    }
    platform::WritePrivateProfileString("Main", "Login", "final", path);
    EXPECT_EQ(TemporaryFiles(dir.Path()), 0u) << "the next write cleans what killed writers left";
}

TEST(CrashSafetyTest, FileWithoutPermissionsIsNeitherReadNorReplaced) {
    TempDir dir;
    const std::string path = dir.File("kestrome.cfg");
    testsupport::WriteFile(path, "[Main]\nLogin=joe\n");
    chmod(path.c_str(), 0);
    chmod(dir.Path().c_str(), 0777);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Root reads everything; the check needs an ordinary user.
        if (geteuid() == 0 && setuid(65534) != 0) {
            _exit(3);
        }
        char value[128];
        platform::GetPrivateProfileString("Main", "Login", "default", value, sizeof value, path);
        const bool readDefault = std::string(value) == "default";
        const bool writeRefused = !platform::WritePrivateProfileString("Main", "Login", "x", path);
        _exit(readDefault && writeRefused ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    chmod(path.c_str(), 0600);
    EXPECT_EQ(testsupport::ReadFile(path), "[Main]\nLogin=joe\n");
}

}  // namespace
