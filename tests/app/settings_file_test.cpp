// The main dialog's reading and writing of the settings file: validation at
// start-up, and what Connect, Quit, Close, Enter and Escape write.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QKeyEvent>

#include "app/updater_harness.h"
#include "support/messages.h"

using namespace testsupport;

namespace {

TEST(SettingsFileTest, InvalidValuesInEveryKeyAreReportedInOrderAndKeptInTheFile) {
    UpdaterHarness h;
    const std::string invalid =
        "[Main]\nLogin=joe\nPassword=pw\n[Options]\nSavePassword=true\nAttemptReconnect=Yes\n"
        "MinimizeOnStartUp=TRUEX\nConnectOnStartUp=\nRefreshInterval=10000\n"
        "ConnectRetryInterval=0\n";
    h.WriteConfig(invalid);
    h.Run();
    EXPECT_EQ(h.fakes.boxes.Texts(),
              (std::vector<QString>{
                  InvalidValueMessage("MinimizeOnStartUp"), InvalidValueMessage("SavePassword"),
                  InvalidValueMessage("AttemptReconnect"), InvalidValueMessage("ConnectOnStartUp"),
                  InvalidValueMessage("RefreshInterval")}));
    for (const auto& box : h.fakes.boxes.boxes) {
        EXPECT_EQ(box.icon, platform::BoxIcon::None);
    }
    EXPECT_EQ(h.Config(), invalid) << "validation comes after the write-back";
}

TEST(SettingsFileTest, MissingKeysAreAddedAndOverlongValuesCutInTheFile) {
    UpdaterHarness h;
    const std::string login200(200, 'L');
    h.WriteConfig("[Main]\nLogin=" + login200 +
                  "\n[Options]\nSavePassword=FALSEhood\nRefreshInterval=123456\n");
    h.Run([&] { EXPECT_EQ(h.Field(res::IDC_LOGIN).size(), 127); });
    EXPECT_EQ(h.Config(), "[Main]\nLogin=" + std::string(127, 'L') +
                              "\nPassword=\n[Options]\nSavePassword=FALSE\nRefreshInterval=12345\n"
                              "AttemptReconnect=FALSE\nMinimizeOnStartUp=FALSE\n"
                              "ConnectOnStartUp=FALSE\nConnectRetryInterval=5\n");
    EXPECT_EQ(h.fakes.boxes.Texts(), std::vector<QString>{InvalidValueMessage("RefreshInterval")});
}

TEST(SettingsFileTest, QuitWritesTheLoginButNotThePasswordWithoutSavePassword) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "stored", "SavePassword=FALSE\n"));
    int result = h.Run([&] {
        h.Clear(res::IDC_LOGIN);
        h.Type(res::IDC_LOGIN, "ann");
        h.Clear(res::IDC_PASSWORD);
        h.Type(res::IDC_PASSWORD, "typed");
        h.Click(res::ID_NETWORK_QUIT);
    });
    EXPECT_NE(result, kLeftRunning) << "Quit ends the program";
    EXPECT_NE(h.Config().find("Login=ann\n"), std::string::npos);
    EXPECT_NE(h.Config().find("Password=stored\n"), std::string::npos);
}

TEST(SettingsFileTest, QuitAndTrayExitWriteThePasswordWithSavePassword) {
    for (int command : {res::ID_NETWORK_QUIT, res::ID_TRAY_EXIT}) {
        UpdaterHarness h;
        h.WriteConfig(Config("joe", "", "SavePassword=TRUE\n"));
        int result = h.Run([&] {
            h.Type(res::IDC_PASSWORD, "typed");
            command == res::ID_TRAY_EXIT ? h.ChooseFromTray(command) : h.Click(command);
        });
        EXPECT_NE(result, kLeftRunning);
        EXPECT_NE(h.Config().find("Password=typed\n"), std::string::npos) << command;
    }
}

TEST(SettingsFileTest, WindowCloseWritesLikeQuitAndEndsAsCancelled) {
    UpdaterHarness h;
    h.WriteConfig(Config("", "", "SavePassword=TRUE\n"));
    int result = h.Run([&] {
        h.Type(res::IDC_LOGIN, "ann");
        h.Type(res::IDC_PASSWORD, "pw");
        h.dlg.Window()->close();
    });
    EXPECT_EQ(result, res::IDCANCEL);
    EXPECT_NE(h.Config().find("Login=ann\nPassword=pw\n"), std::string::npos);
}

TEST(SettingsFileTest, EnterAndEscapeInAFieldEndWithoutWriting) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        UpdaterHarness h;
        h.WriteConfig(Config("joe", "", "SavePassword=TRUE\n"));
        int result = h.Run([&] {
            h.Type(res::IDC_LOGIN, "x");
            QTest::keyClick(h.dlg.GetDlgItem(res::IDC_LOGIN), key);
        });
        EXPECT_EQ(result, key == Qt::Key_Return ? res::IDOK : res::IDCANCEL);
        EXPECT_NE(h.Config().find("Login=joe\n"), std::string::npos) << "nothing written";
    }
}

TEST(SettingsFileTest, ConnectWritesTheLoginOnly) {
    UpdaterHarness h;
    h.WriteConfig(Config("", "", "SavePassword=TRUE\n"));
    h.Run([&] {
        h.Type(res::IDC_LOGIN, "ann");
        h.Type(res::IDC_PASSWORD, "pw");
        h.Click(res::IDC_CONNECT);
        EXPECT_NE(h.Config().find("Login=ann\nPassword=\n"), std::string::npos);
    });
}

// A failed write is told once per action, naming the file and the reason;
// Connect goes on connecting and Quit still ends the program.
TEST(SettingsFileTest, AReadOnlyFileIsToldAtConnectAndQuitWhichGoOn) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "", "SavePassword=TRUE\n"));
    chmod(h.ConfigPath().c_str(), 0444);
    const QString told = QString::fromStdString("The settings could not be saved to " +
                                                h.ConfigPath() + ": Permission denied.");
    int result = h.Run([&] {
        h.Type(res::IDC_PASSWORD, "pw");
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.fakes.boxes.Texts(), std::vector<QString>{told});
        EXPECT_TRUE(h.Connected());
        h.Click(res::ID_NETWORK_QUIT);
    });
    EXPECT_NE(result, kLeftRunning);
    EXPECT_EQ(h.Config(), Config("joe", "", "SavePassword=TRUE\n"));
    EXPECT_EQ(h.fakes.boxes.Texts(), (std::vector<QString>{told, told}));
    EXPECT_EQ(h.fakes.boxes.boxes[0].icon, platform::BoxIcon::Exclamation);
}

TEST(SettingsFileTest, ValuesWrittenInAnEightBitCodePageGoBackByteForByte) {
    UpdaterHarness h;
    const std::string stored = Config("M\xFCller", "p\xE4ss", "SavePassword=TRUE\n");
    h.WriteConfig(stored);
    h.Run([&] {
        EXPECT_EQ(h.Field(res::IDC_LOGIN), QString::fromUtf8("M\u00FCller"));
        EXPECT_EQ(h.Field(res::IDC_PASSWORD), QString::fromUtf8("p\u00E4ss"));
        h.Click(res::IDC_CONNECT);
        h.Click(res::IDC_DISCONNECT);
        h.Click(res::ID_NETWORK_QUIT);
    });
    EXPECT_NE(h.Config().find("Login=M\xFCller\nPassword=p\xE4ss\n"), std::string::npos);

    UpdaterHarness edited;
    edited.WriteConfig(stored);
    edited.Run([&] {
        edited.Type(res::IDC_LOGIN, QString::fromUtf8("\u00E9"));
        edited.Click(res::ID_NETWORK_QUIT);
    });
    EXPECT_NE(edited.Config().find("Login=\xC3\xA9\n"), std::string::npos)
        << "an edited value (typed over the selected text) is stored in UTF-8";
}

}  // namespace
