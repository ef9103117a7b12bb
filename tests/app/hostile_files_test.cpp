// Settings files no program should have to read: the program starts, reports
// what it reports for invalid values, and neither crashes nor hangs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/updater_harness.h"
#include "support/messages.h"

using namespace testsupport;

namespace {

// Starts the dialog on a settings file with the given bytes; returns the login
// field and the boxes shown.
struct Start {
    QString login;
    std::vector<QString> boxes;
    std::string fileAfter;
};
Start StartWith(const std::string& bytes) {
    UpdaterHarness h;
    h.WriteConfig(bytes);
    Start s;
    int result = h.Run([&] {
        s.login = h.Field(res::IDC_LOGIN);
        EXPECT_EQ(h.Status(), "Idle..");
    });
    EXPECT_EQ(result, kLeftRunning) << "the dialog ran until the test ended it";
    s.boxes = h.fakes.boxes.Texts();
    s.fileAfter = h.Config();
    return s;
}

TEST(HostileFilesTest, NulBytesEndAValue) {
    Start s = StartWith(std::string("[Main]\nLogin=jo\0e\n[Options]\nSavePassword=TR\0UE\n", 45));
    EXPECT_EQ(s.login, "jo");
    EXPECT_EQ(s.boxes, std::vector<QString>{InvalidValueMessage("SavePassword")});
}

TEST(HostileFilesTest, InvalidUtf8IsShownReplacedAndKeptInTheFile) {
    Start s = StartWith(
        "[Main]\nLogin=a\xFF\xFE"
        "b\n");
    EXPECT_EQ(s.login.size(), 4);
    EXPECT_TRUE(s.login.startsWith("a") && s.login.endsWith("b"));
    EXPECT_NE(s.fileAfter.find("Login=a\xFF\xFE"
                               "b\n"),
              std::string::npos);
}

TEST(HostileFilesTest, LongLineIsCutLikeAnyLongValue) {
    Start s = StartWith("[Main]\nLogin=" + std::string(500 << 10, 'x') + "\n");
    EXPECT_EQ(s.login, QString(127, 'x'));
    EXPECT_NE(s.fileAfter.find("Login=" + std::string(127, 'x') + "\n"), std::string::npos);
    EXPECT_LT(s.fileAfter.size(), 1000u);
}

TEST(HostileFilesTest, TenMegabyteFileGivesDefaultsAndIsKept) {
    const std::string huge = "[Main]\nLogin=joe\n" + std::string(10 << 20, 'x') + "\n";
    Start s = StartWith(huge);
    EXPECT_EQ(s.login, "");
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_EQ(s.fileAfter, huge);
}

TEST(HostileFilesTest, AFileOfExactlyOneMebibyteIsStillASettingsFile) {
    const std::string options = kDefaultConfig.substr(kDefaultConfig.find("SavePassword"));
    const std::string keys = Config("joe", "", options);
    for (std::size_t size : {std::size_t{1} << 20, (std::size_t{1} << 20) + 1}) {
        SCOPED_TRACE(size);
        // A comment line padding the file to size, built by appending.
        std::string padding(1, ';');
        padding.append(size - keys.size() - 2, 'x').append(1, '\n');
        const std::string file = keys + padding;
        UpdaterHarness h;
        h.WriteConfig(file);
        QString shown;
        h.Run([&] {
            shown = h.Field(res::IDC_LOGIN);
            h.Clear(res::IDC_LOGIN);
            h.Type(res::IDC_LOGIN, "ann");
            h.Click(res::ID_NETWORK_QUIT);
        });
        if (size == std::size_t{1} << 20) {
            EXPECT_EQ(shown, "joe");
            EXPECT_EQ(h.Config(), Config("ann", "", options) + padding) << "a save works";
        } else {
            EXPECT_EQ(shown, "") << "one byte more is not a settings file";
            EXPECT_EQ(h.Config(), file) << "and is left untouched";
        }
    }
}

TEST(HostileFilesTest, CrOnlyLineEndsByteOrderMarkAndNoFinalLineEnd) {
    Start cr = StartWith("[Main]\rLogin=cr\r[Options]\rRefreshInterval=7\r");
    EXPECT_EQ(cr.login, "cr");
    EXPECT_TRUE(cr.boxes.empty());
    EXPECT_NE(cr.fileAfter.find("ConnectRetryInterval=5\r"), std::string::npos)
        << "new lines take the file's own line ends";
    Start bom = StartWith("\xEF\xBB\xBF[Main]\r\nLogin=bom");
    EXPECT_EQ(bom.login, "bom");
    EXPECT_TRUE(bom.fileAfter.starts_with("\xEF\xBB\xBF[Main]\r\nLogin=bom\r\nPassword=\r\n"));
}

TEST(HostileFilesTest, DirectoryInPlaceOfTheFileGivesDefaults) {
    UpdaterHarness h;
    std::filesystem::create_directory(h.ConfigPath());
    h.Run([&] { EXPECT_EQ(h.Field(res::IDC_LOGIN), ""); });
    EXPECT_TRUE(h.fakes.boxes.boxes.empty());
    EXPECT_TRUE(std::filesystem::is_directory(h.ConfigPath()));
}

TEST(HostileFilesTest, GarbageGivesTheMessagesOfItsInvalidValues) {
    Start s = StartWith("\x01\x02[Options\nSavePassword\n=\n[[Options]]\n\x7F\n");
    EXPECT_TRUE(s.boxes.empty()) << "nothing in it is a key of the program";
    EXPECT_NE(s.fileAfter.find("[Main]\nLogin=\nPassword=\n"), std::string::npos);
}

}  // namespace
