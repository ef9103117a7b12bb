// Connecting, the service's replies as the window shows them, the refresh and
// reconnect timers, and the Connect menu rule.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <cctype>
#include <ostream>
#include <string>

#include "app/updater_harness.h"
#include "support/modal.h"

using namespace testsupport;

namespace {

const QString kUnreachable =
    "Either you are not connected to the internet or the server is currently down. Please try "
    "again later. \r\n";
const QString kReconnectLine = "Reconnect enabled - timer running \r\n";

// Starts with credentials in the fields and the given options.
void StartWith(UpdaterHarness& h, const std::string& options) {
    h.WriteConfig(Config("joe", "pw", options));
}

struct ReplyCase {
    const char* body;
    const char* status;
    const char* address;  // the address field afterwards
    bool staysConnected;
};

// The case as failure messages show it.
void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << "reply " << ::testing::PrintToString(std::string(c.body));
}

// The case's name: its position and the reply's letters and digits.
std::string ReplyCaseName(const ::testing::TestParamInfo<ReplyCase>& info) {
    std::string name = std::to_string(info.index) + "_reply_";
    for (const char* c = info.param.body; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
}

class ReplyTableTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyTableTest, ReplyReplacesTheLogAndDecidesTheConnection) {
    const ReplyCase& c = GetParam();
    UpdaterHarness h;
    StartWith(h, "");
    h.server.ReplyWith("100earlier");
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        h.Click(res::IDC_DISCONNECT);
        h.server.ReplyWith(c.body);
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.Status(), QString::fromUtf8(c.status));
        EXPECT_EQ(h.Address(), QString::fromUtf8(c.address));
        EXPECT_EQ(h.Connected(), c.staysConnected);
        EXPECT_EQ(h.fakes.timers.IsRunning(&h.dlg, res::kRefreshTimer), c.staysConnected);
        EXPECT_EQ(h.Enabled(res::IDC_LOGIN), !c.staysConnected);
        EXPECT_EQ(h.Enabled(res::IDC_CONNECT), !c.staysConnected);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTableTest,
    ::testing::Values(
        ReplyCase{"100123.123.123.123", "Information Updated. \r\n9:5:7 \r\n", "123.123.123.123",
                  true},
        ReplyCase{"100123.123.123.123456", "Information Updated. \r\n9:5:7 \r\n", "123.123.123.123",
                  true},
        ReplyCase{"100", "Information Updated. \r\n9:5:7 \r\n", "", true},
        ReplyCase{"100 1.2.3.4\r\n", "Information Updated. \r\n9:5:7 \r\n", " 1.2.3.4", true},
        ReplyCase{"1001", "Information Updated. \r\n9:5:7 \r\n", "1", true},
        ReplyCase{"000", "No response from website. \r\n", "earlier", true},
        ReplyCase{"", "No response from website. \r\n", "earlier", true},
        ReplyCase{"<html><body>Not found</body></html>", "No response from website. \r\n",
                  "earlier", true},
        ReplyCase{" 99", "Unrecongized response from server. \r\n", "earlier", true},
        ReplyCase{"-1x", "Unrecongized response from server. \r\n", "earlier", true},
        ReplyCase{"101", "User does not exist, please create one. \r\n", "earlier", false},
        ReplyCase{"102", "Bad password, check or create new user. \r\n", "earlier", false},
        ReplyCase{"103",
                  "User BANNED. If you feel you recieved this in error, please contact the "
                  "programmer. \r\n",
                  "earlier", false}),
    ReplyCaseName);

TEST(ConnectionTest, LoginAndPasswordReachTheServiceExactlyAsTyped) {
    UpdaterHarness h;
    h.WriteConfig(Config("", "", ""));
    h.Run([&] {
        h.Type(res::IDC_LOGIN, QString::fromUtf8("a b&c=d"));
        h.Type(res::IDC_PASSWORD, QString::fromUtf8("#%+?é"));
        h.Click(res::IDC_CONNECT);
    });
    ASSERT_EQ(h.server.Targets().size(), 1u);
    EXPECT_EQ(QueryParameter(h.server.Targets()[0], "login"), "a b&c=d");
    EXPECT_EQ(QueryParameter(h.server.Targets()[0], "password"), "#%+?é");
}

TEST(ConnectionTest, UnreachableServiceWithoutReconnectDisconnects) {
    UpdaterHarness h;
    StartWith(h, "");
    h.fakes.services.serviceHost = "127.0.0.1:1";
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.Status(), kUnreachable);
        EXPECT_FALSE(h.Connected());
        EXPECT_FALSE(h.fakes.timers.IsRunning(&h.dlg, res::kReconnectTimer));
        EXPECT_TRUE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
    });
}

TEST(ConnectionTest, UnreachableServiceWithReconnectRetriesEveryInterval) {
    UpdaterHarness h;
    StartWith(h, "AttemptReconnect=TRUE\nConnectRetryInterval=3\n");
    const std::string reachable = h.fakes.services.serviceHost;
    h.fakes.services.serviceHost = "127.0.0.1:1";
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.Status(), kUnreachable + kReconnectLine);
        EXPECT_EQ(h.fakes.timers.PeriodOf(res::kReconnectTimer), 3 * 60000);
        h.Minutes(3);
        EXPECT_EQ(h.Status(), kUnreachable + kReconnectLine)
            << "the retry's reply replaces the log, including its own attempt line";
        h.fakes.services.serviceHost = reachable;
        h.Minutes(3);
        EXPECT_EQ(h.Status(), "Information Updated. \r\n9:5:7 \r\n");
        EXPECT_TRUE(h.Connected());
        EXPECT_TRUE(h.fakes.timers.IsRunning(&h.dlg, res::kReconnectTimer))
            << "the reconnect timer keeps running while connected";
    });
}

TEST(ConnectionTest, RefreshRepeatsTheSameUrlEveryInterval) {
    UpdaterHarness h;
    StartWith(h, "RefreshInterval=2\n");
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        const std::string afterConnect = h.Config();
        EXPECT_EQ(h.fakes.timers.PeriodOf(res::kRefreshTimer), 2 * 60000);
        h.Minutes(1);
        EXPECT_EQ(h.server.Targets().size(), 1u);
        h.Minutes(1);
        h.Minutes(2);
        EXPECT_EQ(h.Config(), afterConnect) << "a refresh writes nothing";
    });
    EXPECT_EQ(h.server.Targets(),
              std::vector<std::string>(3, "/process.php?login=joe&password=pw"));
}

TEST(ConnectionTest, ReconnectShorterThanRefreshDrivesTheRequests) {
    UpdaterHarness h;
    StartWith(h, "AttemptReconnect=TRUE\nRefreshInterval=5\nConnectRetryInterval=2\n");
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        h.Click(res::IDC_DISCONNECT);
        EXPECT_TRUE(h.Status().endsWith(kReconnectLine));
        h.Click(res::IDC_CONNECT);  // reconnect timer still armed
        for (int i = 0; i < 5; ++i) {
            h.Minutes(2);
        }
        EXPECT_TRUE(h.Connected());
    });
    // Two connects by hand, then one per reconnect firing; the refresh timer is
    // restarted by each connect before its five minutes are up.
    EXPECT_EQ(h.server.Targets().size(), 7u);
}

TEST(ConnectionTest, DisconnectWithoutReconnectStopsAnArmedReconnectTimer) {
    UpdaterHarness h;
    StartWith(h, "AttemptReconnect=TRUE\n");
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        h.Click(res::IDC_DISCONNECT);
        EXPECT_TRUE(h.fakes.timers.IsRunning(&h.dlg, res::kReconnectTimer));
        EXPECT_FALSE(h.fakes.timers.IsRunning(&h.dlg, res::kRefreshTimer));
        WhenModalOpens([&](QWidget* options) {
            QTest::mouseClick(Control<QCheckBox>(options, res::IDC_ATTEMPT_RECONNECT),
                              Qt::LeftButton);
            Click(options, res::IDCANCEL);  // Save Settings
            Click(options, res::IDOK);
        });
        h.Click(res::IDC_OPTIONS);
        h.Click(res::IDC_CONNECT);
        EXPECT_TRUE(h.fakes.timers.IsRunning(&h.dlg, res::kReconnectTimer)) << "still armed";
        h.Click(res::IDC_DISCONNECT);
        EXPECT_EQ(h.Status(), "Information Updated. \r\n9:5:7 \r\n");
        EXPECT_FALSE(h.fakes.timers.IsRunning(&h.dlg, res::kReconnectTimer));
    });
}

TEST(ConnectionTest, EndingRepliesWithReconnectArmTheTimerAtItsFullLength) {
    for (const char* code : {"101", "102", "103"}) {
        SCOPED_TRACE(code);
        UpdaterHarness h;
        StartWith(h, "AttemptReconnect=TRUE\nRefreshInterval=9999\nConnectRetryInterval=9999\n");
        h.server.ReplyWith("100127.0.0.1");
        h.Run([&] {
            h.Click(res::IDC_CONNECT);
            EXPECT_EQ(h.fakes.timers.PeriodOf(res::kRefreshTimer), 599'940'000);
            h.server.ReplyWith(code);
            h.Minutes(9999);
            EXPECT_FALSE(h.Connected());
            EXPECT_TRUE(h.Status().endsWith(" \r\n" + kReconnectLine)) << h.Status().toStdString();
            EXPECT_EQ(h.Status().count(kReconnectLine), 1);
            EXPECT_EQ(h.fakes.timers.PeriodOf(res::kReconnectTimer), 599'940'000);
        });
    }
}

TEST(ConnectionTest, FailedReadAfterAnEarlierReplyKeepsTheConnection) {
    UpdaterHarness h;
    StartWith(h, "");
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        h.server.SetScript([](Connection& c) {
            c.ReadRequest();
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n1");
            c.Reset();
        });
        h.Minutes(5);
        EXPECT_EQ(h.Status(), "No response from website. \r\n");
        EXPECT_TRUE(h.Connected());
        EXPECT_EQ(h.Address(), "127.0.0.1");
    });
}

TEST(ConnectionTest, EmptyFieldsAskOnceAndNeverPileUpBoxes) {
    UpdaterHarness h;
    StartWith(h, "AttemptReconnect=TRUE\nConnectRetryInterval=1\n");
    h.fakes.services.serviceHost = "127.0.0.1:1";
    h.Run([&] {
        h.Click(res::IDC_CONNECT);  // unreachable: the reconnect timer is armed
        h.Clear(res::IDC_PASSWORD);
        h.fakes.boxes.whileOpen = [&](const RecordedBox&) {
            EXPECT_EQ(h.Status(), kUnreachable + kReconnectLine + "Attempting to reconnect.. \r\n");
            h.Minutes(3);
        };
        h.Minutes(1);
    });
    EXPECT_EQ(h.fakes.boxes.maxOpen, 1);
    EXPECT_EQ(h.fakes.boxes.Texts(),
              std::vector<QString>{"Please enter login name and password before connecting."});
}

TEST(ConnectionTest, ConnectMenuItemOffersExactlyWhatTheConnectButtonOffers) {
    UpdaterHarness h;
    h.WriteConfig(Config("", "", ""));
    h.server.ReplyWith("100127.0.0.1");
    h.Run([&] {
        h.Type(res::IDC_LOGIN, "joe");
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
        h.Type(res::IDC_PASSWORD, "pw");
        EXPECT_TRUE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
        h.Click(res::ID_NETWORK_CONNECT);
        EXPECT_TRUE(h.Connected());
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
        h.Minutes(2);
        h.Click(res::ID_NETWORK_CONNECT);  // grayed: nothing happens
        EXPECT_EQ(h.server.Targets().size(), 1u) << "no second request";
        EXPECT_EQ(h.fakes.timers.DueIn(res::kRefreshTimer), 3 * 60000) << "timer not restarted";
        h.Click(res::IDC_DISCONNECT);
        EXPECT_TRUE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
        h.Type(res::IDC_PASSWORD, "x");
        EXPECT_TRUE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT)) << "still as the button";
        h.Clear(res::IDC_LOGIN);
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_CONNECT));
    });
}

}  // namespace
