#include "platform/files/profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "support/temp_dir.h"

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;
using testsupport::FileExists;
using testsupport::FileMode;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Read(const std::string& path, const char* section, const char* key,
                 const char* def = "default", std::size_t size = 128) {
    std::vector<char> buf(size + 8, 'X');
    std::size_t len = GetPrivateProfileString(section, key, def, buf.data(), size, path);
    EXPECT_EQ(buf[len], '\0');
    EXPECT_EQ(buf[size], 'X') << "nothing may be written past the buffer";
    return std::string(buf.data(), len);
}

class ProfileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("kestrome.cfg");
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read(path, "Main", "Login"), "default");
    WriteFile(path, "[Main]\nLogin=joe\n");
    EXPECT_EQ(Read(path, "Other", "Login"), "default");
    EXPECT_EQ(Read(path, "Main", "Password"), "default");
    EXPECT_EQ(Read(path, "Main", "Login"), "joe");
}

TEST_F(ProfileTest, EmptyValueIsEmptyNotTheDefault) {
    WriteFile(path, "[Main]\nLogin=\n");
    EXPECT_EQ(Read(path, "Main", "Login"), "");
}

TEST_F(ProfileTest, ValueIsCutToTheBufferWithoutSplittingACharacter) {
    WriteFile(path, "[Options]\nSavePassword=FALSEX\nName=ab\xC3\xA9z\n");
    EXPECT_EQ(Read(path, "Options", "SavePassword", "", 6), "FALSE");
    EXPECT_EQ(Read(path, "Options", "Name", "", 4), "ab");
    EXPECT_EQ(Read(path, "Options", "Name", "", 5), "ab\xC3\xA9");
    EXPECT_EQ(Read(path, "Options", "Missing", "TOOLONGDEFAULT", 6), "TOOLO");
}

TEST_F(ProfileTest, NamesMatchRegardlessOfCaseAndBlanksCommentsAndQuotes) {
    WriteFile(path,
              "; a comment\n"
              "  [ main ]  \n"
              ";Login=commented\n"
              "  LOGIN  =  joe smith  \n"
              "Quoted=\"  spaced  \"\n"
              "Single='x'\n"
              "Unbalanced=\"x\n");
    EXPECT_EQ(Read(path, "Main", "Login"), "joe smith");
    EXPECT_EQ(Read(path, "MAIN", "quoted"), "  spaced  ");
    EXPECT_EQ(Read(path, "Main", "Single"), "x");
    EXPECT_EQ(Read(path, "Main", "Unbalanced"), "\"x");
}

TEST_F(ProfileTest, ReadsCrLfAndCrOnlyLineEndsAndSkipsAByteOrderMark) {
    WriteFile(path, "\xEF\xBB\xBF[Main]\r\nLogin=joe\r\nPassword=pw\r\n");
    EXPECT_EQ(Read(path, "Main", "Login"), "joe");
    EXPECT_EQ(Read(path, "Main", "Password"), "pw");
    WriteFile(path, "[Main]\rLogin=cr\r");
    EXPECT_EQ(Read(path, "Main", "Login"), "cr");
}

TEST_F(ProfileTest, FirstWriteCreatesThePrivateFile) {
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "joe", path));
    EXPECT_EQ(ReadFile(path), "[Main]\nLogin=joe\n");
    EXPECT_EQ(FileMode(path), 0600);
}

TEST_F(ProfileTest, WriteReplacesAValueInPlaceKeepingEverythingElseButOthersAccess) {
    WriteFile(path, "; keep me\n[Main]\nlogin = old\n\nExtra=1\n[Options]\nA=1\n");
    chmod(path.c_str(), 0764);
    ASSERT_TRUE(WritePrivateProfileString("MAIN", "Login", "new", path));
    EXPECT_EQ(ReadFile(path), "; keep me\n[Main]\nlogin=new\n\nExtra=1\n[Options]\nA=1\n");
    EXPECT_EQ(FileMode(path), 0700);
    chmod(path.c_str(), 0644);
    ASSERT_TRUE(WritePrivateProfileString("MAIN", "Login", "new", path));
    EXPECT_EQ(FileMode(path), 0600) << "an unchanged file is narrowed too";
}

TEST_F(ProfileTest, MissingKeyGoesAfterTheLastLineOfItsSection) {
    WriteFile(path, "[Main]\nLogin=joe\n\n[Options]\nA=1\n");
    ASSERT_TRUE(WritePrivateProfileString("Main", "Password", "pw", path));
    EXPECT_EQ(ReadFile(path), "[Main]\nLogin=joe\nPassword=pw\n\n[Options]\nA=1\n");
}

TEST_F(ProfileTest, MissingSectionIsAppendedAndAMissingFinalLineEndAdded) {
    WriteFile(path, "[Main]\nLogin=joe");
    ASSERT_TRUE(WritePrivateProfileString("Options", "A", "1", path));
    EXPECT_EQ(ReadFile(path), "[Main]\nLogin=joe\n[Options]\nA=1\n");
}

TEST_F(ProfileTest, ValueOnAnUnterminatedLastLineStaysUnterminated) {
    WriteFile(path, "[Main]\nLogin=joe");
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "ann", path));
    EXPECT_EQ(ReadFile(path), "[Main]\nLogin=ann");
}

TEST_F(ProfileTest, CrLfFileFromWindowsKeepsItsLineEnds) {
    WriteFile(path, "[Main]\r\nLogin=joe\r\nPassword=\r\n[Options]\r\nSavePassword=FALSE\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "ann", path));
    ASSERT_TRUE(WritePrivateProfileString("Options", "RefreshInterval", "5", path));
    EXPECT_EQ(ReadFile(path),
              "[Main]\r\nLogin=ann\r\nPassword=\r\n[Options]\r\nSavePassword=FALSE\r\n"
              "RefreshInterval=5\r\n");
}

TEST_F(ProfileTest, UnchangedValueLeavesTheFileUntouched) {
    WriteFile(path, "[Main]\nLogin=joe\n");
    struct stat before {};
    stat(path.c_str(), &before);
    ASSERT_TRUE(WritePrivateProfileString("Main", "Login", "joe", path));
    struct stat after {};
    stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << "an unchanged file must not be replaced";
}

TEST_F(ProfileTest, ReadOnlyFileIsNotWritten) {
    WriteFile(path, "[Main]\nLogin=joe\n");
    chmod(path.c_str(), 0444);
    EXPECT_FALSE(WritePrivateProfileString("Main", "Login", "ann", path));
    EXPECT_EQ(ReadFile(path), "[Main]\nLogin=joe\n");
}

TEST_F(ProfileTest, DirectoryInPlaceOfTheFileIsReportedAndReadsGiveDefaults) {
    std::filesystem::create_directory(path);
    EXPECT_FALSE(WritePrivateProfileString("Main", "Login", "ann", path));
    EXPECT_EQ(Read(path, "Main", "Login"), "default");
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(ProfileTest, WriteThatFailsBeforeTheRenameLeavesTheOldFileAndNoTemporary) {
    WriteFile(path, "[Main]\nLogin=joe\n");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The new content exceeds the file-size limit, so writing it fails.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool ok = WritePrivateProfileString("Main", "Login", std::string(100, 'x'), path);
        _exit(ok ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write must report failure";
    EXPECT_EQ(ReadFile(path), "[Main]\nLogin=joe\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 1) << "no temporary file may be left behind";
}

}  // namespace
