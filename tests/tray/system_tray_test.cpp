// The tray icon object over the notify-icon double: its states, its shell calls
// and the commands its mouse messages send.
#include "tray/system_tray.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

using namespace platform;
using testsupport::FakeNotifyIcons;

// Shows the flags hidden / deleted / re-add in failure messages.
void PrintTo(const CSystemTray::Flags& f, std::ostream* os) {
    *os << f.iconHidden << "/" << f.iconDeleted << "/" << f.reAddOnRestart;
}

namespace {

using Kind = FakeNotifyIcons::Kind;
constexpr unsigned kCallback = 0xC123;
constexpr unsigned kIconId = 130;

// Records the commands it receives; may delete the tray from inside one.
struct Target : CommandTarget {
    std::vector<int> sent, posted;
    int foregrounds = 0;
    std::function<void()> onSend;
    void SendCommand(int id, int) override {
        sent.push_back(id);
        if (onSend) {
            onSend();
        }
    }
    void PostCommand(int id) override { posted.push_back(id); }
    void SetForegroundWindow() override { ++foregrounds; }
    void OnTrayIconShown(bool shown) override { iconShown.push_back(shown); }
    std::vector<bool> iconShown;
};

using Flags = CSystemTray::Flags;

const Flags kConstructed{true, true, false};
const Flags kShown{false, false, true};
const Flags kLost{true, false, false};
const Flags kDeleteFailed{false, false, false};

class SystemTrayTest : public ::testing::Test {
protected:
    FakeNotifyIcons shell;
    Target target;
    std::unique_ptr<CSystemTray> tray = std::make_unique<CSystemTray>(shell, &target);
    QIcon icon = QIcon(":/no/such/icon.png");

    bool Create(bool hidden = false) {
        return tray->CreateTray(nullptr, kCallback, icon, kIconId, hidden);
    }
    std::size_t Count(Kind kind) const {
        return std::count_if(shell.calls.begin(), shell.calls.end(),
                             [kind](const auto& c) { return c.kind == kind; });
    }
};

TEST_F(SystemTrayTest, CreateAddsTheIconWithItsNotificationData) {
    EXPECT_EQ(tray->GetFlags(), kConstructed);
    EXPECT_TRUE(Create());
    EXPECT_EQ(tray->GetFlags(), kShown);
    ASSERT_EQ(shell.calls.size(), 1u);
    const NotifyIconData& d = shell.calls[0].data;
    EXPECT_EQ(d.hWnd, tray.get()) << "the tray's own window hears the callbacks";
    EXPECT_EQ(d.uID, kIconId);
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, kCallback);
    EXPECT_TRUE(d.szTip.isEmpty());
}

TEST_F(SystemTrayTest, HiddenCreateAddsNothingAndNeverDeletes) {
    EXPECT_TRUE(Create(true));
    EXPECT_EQ(tray->GetFlags(), kConstructed);
    shell.RestartTaskbar();
    tray.reset();
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(SystemTrayTest, FailedAddIsReportedAndNothingIsDeletedLater) {
    shell.failAdd = true;
    EXPECT_FALSE(Create());
    EXPECT_EQ(tray->GetFlags(), kConstructed);
    shell.RestartTaskbar();
    tray.reset();
    EXPECT_EQ(Count(Kind::Add), 1u);
    EXPECT_EQ(Count(Kind::Delete), 0u);
}

TEST_F(SystemTrayTest, DeleteRemovesTheIconOnceAndDisarmsTheReAdd) {
    Create();
    EXPECT_TRUE(tray->DeleteTrayIcon());
    EXPECT_EQ(tray->GetFlags(), kConstructed);
    EXPECT_EQ(shell.calls.back().data.uFlags, 0u);
    EXPECT_TRUE(tray->DeleteTrayIcon()) << "a second delete needs no shell call";
    shell.RestartTaskbar();
    EXPECT_EQ(Count(Kind::Delete), 1u);
    EXPECT_EQ(Count(Kind::Add), 1u);
}

TEST_F(SystemTrayTest, FailedDeleteIsRetriedByTheNextDeleteButNotReAdded) {
    Create();
    shell.failDelete = true;
    EXPECT_FALSE(tray->DeleteTrayIcon());
    EXPECT_EQ(tray->GetFlags(), kDeleteFailed);
    shell.RestartTaskbar();
    EXPECT_EQ(Count(Kind::Add), 1u);
    shell.failDelete = false;
    tray.reset();
    EXPECT_EQ(Count(Kind::Delete), 2u);
    EXPECT_FALSE(shell.IconShown());
}

TEST_F(SystemTrayTest, TaskbarRestartReAddsAShownIconWithItsFlags) {
    Create();
    tray->DeleteTrayIcon();  // leaves uFlags 0 in the data
    tray = std::make_unique<CSystemTray>(shell, &target);
    Create();
    shell.RestartTaskbar();
    ASSERT_EQ(Count(Kind::Add), 3u);
    EXPECT_EQ(shell.calls.back().data.uFlags, 7u);
    EXPECT_EQ(tray->GetFlags(), kShown) << "a successful re-add stays armed";
}

TEST_F(SystemTrayTest, FailedReAddLosesTheIconForGood) {
    Create();
    shell.failAdd = true;
    shell.RestartTaskbar();
    EXPECT_EQ(tray->GetFlags(), kLost);
    shell.failAdd = false;
    shell.RestartTaskbar();
    EXPECT_EQ(Count(Kind::Add), 2u) << "no further re-add is tried";
    tray.reset();
    EXPECT_EQ(Count(Kind::Delete), 1u) << "the lost icon is still deleted";
}

TEST_F(SystemTrayTest, NoNotificationAreaMeansNoWindowAndNoShellCall) {
    shell.available = false;
    EXPECT_FALSE(Create());
    EXPECT_TRUE(shell.windows.empty());
    tray.reset();
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(SystemTrayTest, RightButtonOffersRestoreAndExitAtTheCursor) {
    Create();
    shell.popupChoice = 32784;
    EXPECT_EQ(shell.Mouse(WM_RBUTTONUP), 1);
    ASSERT_EQ(shell.popupsShown.size(), 1u);
    EXPECT_EQ(shell.popupsShown[0], (QStringList{"&Restore", "E&xit"}));
    EXPECT_EQ(shell.popupPositions[0], shell.cursor);
    EXPECT_EQ(target.foregrounds, 1);
    EXPECT_EQ(target.posted, std::vector<int>{32784});
    shell.popupChoice = 0;
    shell.Mouse(WM_RBUTTONUP);
    EXPECT_EQ(target.posted.size(), 1u) << "closing the menu sends nothing";
}

TEST_F(SystemTrayTest, DoubleClickSendsRestoreWhichMayDeleteTheTray) {
    Create();
    target.onSend = [&] { tray.reset(); };
    EXPECT_EQ(shell.Mouse(WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(target.sent, std::vector<int>{32783});
    EXPECT_EQ(tray, nullptr);
    EXPECT_FALSE(shell.IconShown());
}

TEST_F(SystemTrayTest, OtherMouseMessagesAndOtherIconsDoNothing) {
    Create();
    for (unsigned message : {WM_MOUSEMOVE, WM_LBUTTONUP, 0x0201u, WM_MBUTTONUP}) {
        EXPECT_EQ(shell.Mouse(message), 1);
    }
    EXPECT_EQ(tray->WindowProc({kCallback, kIconId + 1, WM_LBUTTONDBLCLK}), 0);
    EXPECT_TRUE(target.sent.empty());
    EXPECT_TRUE(target.posted.empty());
    EXPECT_TRUE(shell.popupsShown.empty());
}

TEST_F(SystemTrayTest, WithoutAMainWindowNotificationsDoNothing) {
    tray = std::make_unique<CSystemTray>(shell, nullptr);
    Create();
    EXPECT_EQ(shell.Mouse(WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(shell.Mouse(WM_RBUTTONUP), 0);
    EXPECT_TRUE(shell.popupsShown.empty());
}

}  // namespace

// On D-Bus hosts the host shows the tray menu itself and posts the choice; a
// host that goes away takes the icon, and the window is told, as it is when
// a host appears and gets the icon back.
TEST_F(SystemTrayTest, HostsShowTheTrayMenuThemselvesAndTheTargetHearsTheHostGoAndReturn) {
    ASSERT_TRUE(Create());
    EXPECT_EQ(shell.hostMenu, QStringList({"&Restore", "E&xit"}));
    shell.ChooseFromHostMenu(32784);
    EXPECT_EQ(target.posted, std::vector<int>{32784});

    shell.LoseTaskbar();
    EXPECT_EQ(target.iconShown, std::vector<bool>{false});
    EXPECT_EQ(tray->GetFlags(), kShown) << "a returning host must get the icon back";
    shell.RestartTaskbar();
    EXPECT_TRUE(shell.IconShown());
    EXPECT_EQ(target.iconShown, (std::vector<bool>{false, true}));
}
