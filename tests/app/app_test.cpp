// The application object: the networking start-up failure and a close request
// from outside ending the program with the login saved.
#include "app/updater_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#include "app/updater_harness.h"
#include "platform/session/close_signals.h"
#include "platform/session/qt_services.h"
#include "support/modal.h"

using namespace testsupport;

namespace {

TEST(AppTest, TheProgramIsNamedAsStartedWithoutTheExtension) {
    EXPECT_EQ(platform::ExecutableName("/opt/links/Kestrome-1.2.bin"), "Kestrome-1.2");
    EXPECT_EQ(platform::ExecutableName("./kestrome"), "kestrome");
}

TEST(AppTest, FailedNetworkStartShowsTheMessageAndCreatesNoWindowOrFile) {
    TempDir dir;
    ScopedCurrentDir cwd(dir.Path());
    TestServices fakes;
    CUpdaterApp app(fakes.services, [] { return false; });
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(fakes.boxes.boxes.size(), 1u);
    EXPECT_EQ(fakes.boxes.boxes[0].text, "Windows sockets initialization failed.");
    EXPECT_EQ(fakes.boxes.boxes[0].icon, platform::BoxIcon::Exclamation);
    EXPECT_EQ(fakes.boxes.boxes[0].caption, "kestrome");
    EXPECT_FALSE(FileExists(dir.File("kestrome.cfg")));
}

// The program started on a settings file, as main() starts it.
struct Program {
    TempDir dir;
    ScopedCurrentDir cwd{dir.Path()};
    TestServices fakes;
    CUpdaterApp app{fakes.services};

    std::string RunOn(const std::string& config) {
        WriteFile(dir.File("kestrome.cfg"), config);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog outlived the program";
        return ReadFile(dir.File("kestrome.cfg"));
    }
    // The main window, once it shows.
    static QWidget* MainWindow() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == "Kestrome") {
                return w;
            }
        }
        return nullptr;
    }
};

// SIGTERM, SIGINT and SIGHUP close the program, as main() arranges it.
void ForwardCloseSignalsTo(CUpdaterApp* app) {
    static CUpdaterApp* running = nullptr;
    static bool forwarding = false;
    running = app;
    if (!std::exchange(forwarding, true)) {
        platform::ForwardCloseSignals([] {
            if (running != nullptr) {
                running->RequestClose();
            }
        });
    }
}

TEST(AppTest, CloseRequestFromOutsideSavesAndEndsTheProgram) {
    Program p;
    QTimer::singleShot(0, [&] {
        auto* login = Control<QLineEdit>(Program::MainWindow(), res::IDC_LOGIN);
        login->setText("ann");
        p.app.RequestClose();
    });
    EXPECT_NE(p.RunOn(Config("", "", "SavePassword=TRUE\n")).find("Login=ann\n"),
              std::string::npos);
}

TEST(AppTest, CloseRequestWhileABoxIsOpenEndsItFirstAndLosesNothing) {
    {
        SCOPED_TRACE("SIGTERM during a settings message at start-up, before the fields are filled");
        Program p;
        ForwardCloseSignalsTo(&p.app);
        p.fakes.boxes.whileOpen = [&](const RecordedBox&) {
            raise(SIGTERM);
            // The box's loop goes on: the close may be delivered before it returns.
            for (int i = 0; i < 10; ++i) {
                QApplication::processEvents();
            }
        };
        const std::string config =
            Config("keep", "pw", "SavePassword=TRUE\nAttemptReconnect=zz\nConnectOnStartUp=zz\n");
        EXPECT_EQ(p.RunOn(config), config +
                                       "MinimizeOnStartUp=FALSE\nRefreshInterval=5\n"
                                       "ConnectRetryInterval=5\n");
        EXPECT_EQ(p.fakes.boxes.boxes.size(), 1u) << "nothing opens once the program ends";
        ForwardCloseSignalsTo(nullptr);
    }
    {
        SCOPED_TRACE("the login prompt of a connect at start-up");
        Program p;
        p.fakes.boxes.whileOpen = [&](const RecordedBox&) { p.app.RequestClose(); };
        const std::string file = p.RunOn(Config("joe", "", "ConnectOnStartUp=TRUE\n"));
        EXPECT_NE(file.find("Login=joe\n"), std::string::npos);
        EXPECT_EQ(p.fakes.boxes.Texts(),
                  std::vector<QString>{"Please enter login name and password before connecting."});
    }
}

TEST(AppTest, CloseRequestWhileOptionsOrAboutIsOpenClosesItThenTheProgram) {
    for (int command : {res::IDC_OPTIONS, res::ID_HELP_ABOUT}) {
        SCOPED_TRACE(command);
        Program p;
        bool dialogOpened = false;
        QTimer::singleShot(0, [&] {
            WhenModalOpens([&](QWidget*) {
                dialogOpened = true;
                p.app.RequestClose();
            });
            Click(Program::MainWindow(), command);
        });
        EXPECT_NE(p.RunOn(Config("ann", "", "")).find("Login=ann\n"), std::string::npos);
        EXPECT_TRUE(dialogOpened);
    }
}

// A service that takes the request and never answers cannot hold the program:
// SIGTERM ends the exchange, and the program saves and ends.
TEST(AppTest, SigtermDuringAHangingExchangeEndsItAndSaves) {
    Program p;
    ForwardCloseSignalsTo(&p.app);
    ScriptedHttpServer server;
    enum { kWaiting, kClientLeft, kClientStayed };
    std::atomic<int> outcome = kWaiting;
    server.SetScript([&](Connection& c) {
        c.ReadRequest();
        kill(getpid(), SIGTERM);
        outcome = c.WaitForClientClose(60000) ? kClientLeft : kClientStayed;
    });
    p.fakes.services.serviceHost = server.HostPort();
    p.fakes.services.internetTimeouts = {120000, 120000};
    QTimer::singleShot(0, [&] {
        QWidget* window = Program::MainWindow();
        Control<QLineEdit>(window, res::IDC_PASSWORD)->setText("pw");
        Click(window, res::IDC_CONNECT);
    });
    const std::string file = p.RunOn(Config("joe", "", "SavePassword=TRUE\n"));
    ForwardCloseSignalsTo(nullptr);
    EXPECT_NE(file.find("Login=joe\nPassword=pw\n"), std::string::npos);
    for (int i = 0; i < 7000 && outcome == kWaiting; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(outcome, kClientLeft) << "the exchange ran on after the signal";
}

}  // namespace
