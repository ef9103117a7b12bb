// Start-up of the main dialog: the first start, what the settings file brings
// into the window, and connecting at start-up.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/updater_harness.h"

using namespace testsupport;

namespace {

TEST(StartupTest, FirstStartInAnEmptyFolderCreatesTheDefaultFileSilently) {
    UpdaterHarness h;
    h.Run([&] {
        EXPECT_EQ(h.dlg.Window()->windowTitle(), "Kestrome");
        EXPECT_EQ(h.Status(), "Idle..");
        EXPECT_FALSE(h.Enabled(res::IDC_DISCONNECT));
        EXPECT_TRUE(h.Enabled(res::IDC_CONNECT));
        EXPECT_TRUE(h.Enabled(res::IDC_LOGIN));
        EXPECT_TRUE(h.dlg.GetDlgItem(res::IDC_LOGIN)->hasFocus());
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_DISCONNECT));
    });
    EXPECT_EQ(h.Config(), kDefaultConfig);
    EXPECT_EQ(FileMode(h.ConfigPath()), 0600);
    EXPECT_TRUE(h.fakes.boxes.boxes.empty());
    EXPECT_TRUE(h.server.Targets().empty());
}

TEST(StartupTest, SettingsLiveInTheCurrentDirectoryWhateverItsLengthAndNeverUnderRoot) {
    UpdaterHarness h;
    std::string deep = h.dir.Path();
    for (int i = 0; i < 6; ++i) {
        deep += "/" + std::string(90, 'd');  // past the 260 bytes of a fixed buffer
    }
    std::filesystem::create_directories(deep);
    {
        ScopedCurrentDir inDeep(deep);
        h.Run();
    }
    EXPECT_EQ(ReadFile(deep + "/kestrome.cfg"), kDefaultConfig);

    const bool rootHadOne = FileExists("/kestrome.cfg");
    UpdaterHarness removed;
    std::filesystem::create_directory(removed.dir.File("gone"));
    {
        ScopedCurrentDir inGone(removed.dir.File("gone"));
        std::filesystem::remove(removed.dir.File("gone"));
        removed.Run([&] { EXPECT_EQ(removed.Status(), "Idle.."); });
    }
    EXPECT_EQ(FileExists("/kestrome.cfg"), rootHadOne) << "nothing may be written under /";
}

TEST(StartupTest, SavedLoginAndPasswordAreShownEvenWithoutSavePassword) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "secret", "SavePassword=FALSE\n"));
    h.Run([&] {
        EXPECT_EQ(h.Field(res::IDC_LOGIN), "joe");
        EXPECT_EQ(h.Field(res::IDC_PASSWORD), "secret");
        EXPECT_TRUE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT))
            << "the menu offers what the Connect button offers";
    });
}

TEST(StartupTest, ConnectOnStartUpConnectsOnceTheWindowShows) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "pw", "ConnectOnStartUp=TRUE\n"));
    h.server.ReplyWith("100 10.0.0.7");
    h.Run([&] {
        UpdaterHarness::Settle();
        EXPECT_EQ(h.Status(), "Information Updated. \r\n9:5:7 \r\n");
        EXPECT_EQ(h.Address(), " 10.0.0.7");
        EXPECT_TRUE(h.Connected());
        EXPECT_FALSE(h.Enabled(res::IDC_LOGIN));
    });
    EXPECT_EQ(h.server.Targets(), std::vector<std::string>{"/process.php?login=joe&password=pw"});
}

// A slow service must not keep the window away: the connection waits for it.
TEST(StartupTest, ConnectOnStartUpWithoutPasswordAsksOverTheShownWindow) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "", "ConnectOnStartUp=TRUE\n"));
    bool windowVisible = false;
    h.fakes.boxes.whileOpen = [&](const RecordedBox&) {
        windowVisible = h.dlg.Window()->isVisible();
    };
    h.Run([&] {
        UpdaterHarness::Settle();
        EXPECT_EQ(h.Status(), "Idle..");
        EXPECT_FALSE(h.Connected());
    });
    EXPECT_EQ(h.fakes.boxes.Texts(),
              std::vector<QString>{"Please enter login name and password before connecting."});
    EXPECT_EQ(h.fakes.boxes.boxes[0].icon, platform::BoxIcon::None);
    EXPECT_EQ(h.fakes.boxes.boxes[0].caption, "kestrome");
    EXPECT_TRUE(windowVisible);
    EXPECT_TRUE(h.server.Targets().empty());
}

TEST(StartupTest, OverlongLoginFromTheFileIsReportedAtConnectAndStillUsed) {
    UpdaterHarness h;
    h.WriteConfig(Config("abcdefghijkl", "pw", "ConnectOnStartUp=TRUE\n"));
    h.Run();
    EXPECT_EQ(h.fakes.boxes.Texts(),
              std::vector<QString>{"Please enter no more than 10 characters."});
    EXPECT_EQ(h.fakes.boxes.boxes[0].icon, platform::BoxIcon::Exclamation);
    EXPECT_EQ(h.server.Targets(),
              std::vector<std::string>{"/process.php?login=abcdefghijkl&password=pw"});
}

}  // namespace
