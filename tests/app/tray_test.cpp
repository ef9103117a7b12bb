// Minimising the main dialog to the tray icon and coming back, through the
// window's own state changes and the notify-icon double.
#include <gtest/gtest.h>

#include "app/updater_harness.h"

using namespace testsupport;
using platform::WM_LBUTTONDBLCLK;
using platform::WM_RBUTTONUP;

namespace {

class TrayTest : public ::testing::Test {
protected:
    UpdaterHarness h;
    FakeNotifyIcons& icons = h.fakes.notifyIcons;

    QWidget* Window() { return h.dlg.Window(); }
    void Settle() { UpdaterHarness::Settle(); }
    void Minimise() { h.Minimise(); }
    // The tray object exists exactly while the dialog is hidden to the tray.
    void ExpectInTray(bool inTray) {
        EXPECT_EQ(icons.IconShown(), inTray);
        EXPECT_EQ(icons.windows.size(), inTray ? 1u : 0u)
            << "the tray object lives only in the tray";
        EXPECT_EQ(Window()->isVisible(), !inTray);
    }
};

TEST_F(TrayTest, MinimisingHidesTheWindowBehindTheIcon) {
    h.Run([&] {
        Minimise();
        ExpectInTray(true);
        ASSERT_EQ(icons.calls.size(), 1u);
        const platform::NotifyIconData& d = icons.calls[0].data;
        EXPECT_EQ(d.uID, 130u);
        EXPECT_EQ(d.uCallbackMessage,
                  platform::RegisterWindowMessage("Kestrome tray notification"));
        EXPECT_TRUE(d.szTip.isEmpty());
        EXPECT_FALSE(d.hIcon.isNull());
    });
}

TEST_F(TrayTest, DoubleClickRestoresTheWindowAndRemovesTheIcon) {
    h.Run([&] {
        Minimise();
        EXPECT_EQ(icons.Mouse(WM_LBUTTONDBLCLK), 1);
        Settle();
        ExpectInTray(false);
        EXPECT_FALSE(Window()->isMinimized());
        SCOPED_TRACE("a second round works the same");
        Minimise();
        ExpectInTray(true);
    });
}

// A place the window manager gave (the user moved the window) is not one the
// program set, so the dialog would be centred again unless it is kept.
TEST_F(TrayTest, TheWindowComesBackWhereTheUserLeftIt) {
    h.Run([&] {
        const QPoint place = Window()->pos() + QPoint(37, 23);
        Window()->move(place);
        Window()->setAttribute(Qt::WA_Moved, false);
        Minimise();
        ExpectInTray(true);
        EXPECT_EQ(icons.Mouse(WM_LBUTTONDBLCLK), 1);
        Settle();
        ExpectInTray(false);
        EXPECT_EQ(Window()->pos(), place);
    });
}

// Another start of the program on the same settings file.
TEST_F(TrayTest, AnotherStartBringsTheWindowBackFromTheTrayOrTheTaskBar) {
    h.Run([&] {
        Minimise();
        h.dlg.BringBack();
        Settle();
        ExpectInTray(false);
        EXPECT_FALSE(Window()->isMinimized());
        EXPECT_TRUE(QTest::qWaitForWindowActive(Window()));
        icons.available = false;
        Minimise();
        EXPECT_TRUE(Window()->isMinimized()) << "on the task bar";
        h.dlg.BringBack();
        Settle();
        EXPECT_FALSE(Window()->isMinimized());
    });
}

TEST_F(TrayTest, IconMenuRestoresOrExitsSavingTheLogin) {
    int result = h.Run([&] {
        h.Type(res::IDC_LOGIN, "ann");
        EXPECT_EQ(h.Field(res::IDC_LOGIN), "ann");
        Minimise();
        icons.popupChoice = res::ID_TRAY_RESTORE;
        icons.Mouse(WM_RBUTTONUP);
        Settle();
        ExpectInTray(false);
        Minimise();
        icons.popupChoice = res::ID_TRAY_EXIT;
        icons.Mouse(WM_RBUTTONUP);
    });
    EXPECT_NE(result, kLeftRunning);
    EXPECT_EQ(icons.popupsShown.back(), (QStringList{"&Restore", "E&xit"}));
    EXPECT_NE(h.Config().find("Login=ann\n"), std::string::npos) << h.Config();
    EXPECT_FALSE(icons.IconShown()) << "the icon does not outlive the program";
    EXPECT_TRUE(icons.windows.empty());
}

TEST_F(TrayTest, MinimiseInTrayAndRestoreWhenNormalChangeNothing) {
    h.Run([&] {
        h.dlg.PostSysCommand(platform::SC_RESTORE);
        Settle();
        ExpectInTray(false);
        Minimise();
        h.dlg.PostSysCommand(platform::SC_MINIMIZE);
        Settle();
        ExpectInTray(true);
        EXPECT_EQ(icons.calls.size(), 1u) << "no second icon";
    });
}

TEST_F(TrayTest, MinimizeOnStartUpGoesToTheTrayOnceTheLoopRuns) {
    h.WriteConfig(Config("joe", "pw", "MinimizeOnStartUp=TRUE\n"));
    h.Run([&] {
        Settle();
        ExpectInTray(true);
        EXPECT_TRUE(h.server.Targets().empty());
    });
}

TEST_F(TrayTest, MinimizeAndConnectOnStartUpConnectFirst) {
    h.WriteConfig(Config("joe", "pw", "MinimizeOnStartUp=TRUE\nConnectOnStartUp=TRUE\n"));
    h.Run([&] {
        Settle();
        EXPECT_EQ(h.server.Targets().size(), 1u);
        ExpectInTray(true);
        EXPECT_EQ(h.Status(), "Information Updated. \r\n9:5:7 \r\n");
    });
}

TEST_F(TrayTest, MinimizeOnStartUpWaitsUntilTheStartUpBoxesAreDismissed) {
    h.WriteConfig(Config("joe", "", "MinimizeOnStartUp=TRUE\nConnectOnStartUp=TRUE\n"));
    h.fakes.boxes.whileOpen = [&](const RecordedBox&) {
        EXPECT_FALSE(icons.IconShown()) << "no icon while the start-up box is open";
    };
    h.Run([&] {
        Settle();
        ExpectInTray(true);
        EXPECT_EQ(icons.calls.size(), 1u) << "one icon";
        icons.Mouse(WM_LBUTTONDBLCLK);
        Settle();
        ExpectInTray(false);
    });
    EXPECT_EQ(h.fakes.boxes.boxes.size(), 1u);
}

TEST_F(TrayTest, WithoutANotificationAreaTheWindowStaysOnTheTaskBar) {
    icons.available = false;
    h.Run([&] {
        Minimise();
        EXPECT_TRUE(Window()->isVisible());
        EXPECT_TRUE(Window()->isMinimized());
        EXPECT_FALSE(icons.IconShown());
        Window()->showNormal();
        Settle();
        EXPECT_TRUE(icons.windows.empty()) << "a restored window waits for no tray host";
        icons.available = true;
        icons.RestartTaskbar();
        Settle();
        EXPECT_TRUE(Window()->isVisible()) << "a host that comes then changes nothing";
        EXPECT_FALSE(Window()->isMinimized());
        icons.available = false;
        Minimise();
        EXPECT_TRUE(Window()->isVisible()) << "each minimise tries again and stays reachable";
    });
}

// The program started before the panel (Minimize on Startup at login): the
// window waits on the task bar, and goes behind its icon when a host comes.
TEST_F(TrayTest, ATrayHostThatComesLaterTakesTheMinimisedWindow) {
    icons.available = false;
    h.WriteConfig(Config("joe", "", "MinimizeOnStartUp=TRUE\n"));
    h.Run([&] {
        Settle();
        EXPECT_TRUE(Window()->isMinimized());
        EXPECT_FALSE(icons.IconShown());
        icons.available = true;
        icons.RestartTaskbar();
        Settle();
        ExpectInTray(true);
        EXPECT_EQ(icons.Mouse(WM_LBUTTONDBLCLK), 1);
        Settle();
        ExpectInTray(false);
    });
}

TEST_F(TrayTest, IconThatCannotBeAddedKeepsTheWindowReachable) {
    icons.failAdd = true;
    h.Run([&] {
        Minimise();
        EXPECT_TRUE(Window()->isVisible());
        EXPECT_FALSE(icons.IconShown());
        EXPECT_EQ(icons.windows.size(), 1u) << "the tray object is not kept, a waiter listens";
        icons.failAdd = false;
        Window()->showNormal();
        Settle();
        Minimise();
        ExpectInTray(true);
    });
}

TEST_F(TrayTest, TaskbarRestartBringsTheIconBack) {
    h.Run([&] {
        Minimise();
        icons.shown.reset();  // the old tray host took the icon with it
        icons.RestartTaskbar();
        EXPECT_TRUE(icons.IconShown());
    });
}

}  // namespace
