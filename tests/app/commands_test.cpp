// The main dialog's commands: web pages, mail, help, About and Options.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>

#include "app/updater_harness.h"
#include "support/modal.h"

using namespace testsupport;

namespace {

const QString kBrowser = "Launching Web Browser.. \r\n";

TEST(CommandsTest, EachLaunchAppendsItsLineThenOpensItsTarget) {
    UpdaterHarness h;
    std::vector<QString> statusWhenOpened;
    h.Run([&] {
        h.Click(res::IDC_WEBSITE);
        EXPECT_EQ(h.Status(), "Idle.." + kBrowser) << "the first line holds both texts";
        h.Click(res::ID_HELP_EMAIL);
        h.Click(res::ID_SITES_1);
        h.Click(res::ID_SITES_2);
        h.Click(res::ID_SITES_3);
        h.Click(res::ID_SITES_4);
        EXPECT_EQ(h.Status(), "Idle.." + kBrowser + "Launching Mail Client.. \r\n" + kBrowser +
                                  kBrowser + kBrowser + kBrowser);
    });
    EXPECT_EQ(
        h.fakes.shell.opened,
        (std::vector<QString>{QString::fromStdString("http://" + h.server.HostPort() + "/"),
                              "mailto:kestrome@example.org", "http://www.iana.org/",
                              "http://www.rfc-editor.org/", "http://www.ietf.org/",
                              QString::fromStdString("http://" + h.server.HostPort() + "/")}));
}

TEST(CommandsTest, FailedLaunchKeepsTheLineAndReportsNothing) {
    UpdaterHarness h;
    h.fakes.shell.succeeds = false;
    h.Run([&] {
        h.Click(res::IDC_WEBSITE);
        EXPECT_EQ(h.Status(), "Idle.." + kBrowser);
    });
    EXPECT_TRUE(h.fakes.boxes.boxes.empty());
}

TEST(CommandsTest, LongLogStaysScrolledToItsEnd) {
    UpdaterHarness h;
    h.Run([&] {
        for (int i = 0; i < 12; ++i) {
            h.Click(res::IDC_WEBSITE);
        }
        auto* log = static_cast<QPlainTextEdit*>(h.dlg.GetDlgItem(res::IDC_STATUS));
        QApplication::processEvents();
        EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
        EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
    });
}

TEST(CommandsTest, MenuLabelsAreTheSitesDomainNames) {
    UpdaterHarness h;
    h.Run([&] {
        QMenuBar* bar = h.dlg.Window()->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        QStringList titles;
        for (QAction* a : bar->actions()) {
            titles << a->text();
        }
        EXPECT_EQ(titles, (QStringList{"&Network", "&Help", "&Useful Sites"}));
        QStringList sites;
        for (QAction* a : bar->actions()[2]->menu()->actions()) {
            sites << a->text();
        }
        // The maker's site is the update service the program was given.
        EXPECT_EQ(sites, (QStringList{"www.iana.org", "www.rfc-editor.org", "www.ietf.org",
                                      QString::fromStdString(h.server.HostPort())}));
    });
}

TEST(CommandsTest, HelpOpensTheMainTopicOrSaysItFailed) {
    UpdaterHarness h;
    h.fakes.services.helpFile = QString::fromStdString(h.dir.File("kestrome.html"));
    WriteFile(h.dir.File("kestrome.html"), "<html></html>");
    h.Run([&] {
        h.Click(res::ID_HELP_HELPME);
        QTest::keyClick(h.dlg.GetDlgItem(res::IDC_LOGIN), Qt::Key_F1);
        EXPECT_EQ(h.Status(), "Idle..") << "help changes nothing";
    });
    ASSERT_EQ(h.fakes.shell.opened.size(), 2u);
    EXPECT_TRUE(h.fakes.shell.opened[0].startsWith("file://"));
    EXPECT_TRUE(h.fakes.shell.opened[0].endsWith("/kestrome.html#0x20066"));
    EXPECT_EQ(h.fakes.shell.opened[1], h.fakes.shell.opened[0]);

    UpdaterHarness none;
    none.Run([&] { none.Click(res::ID_HELP_HELPME); });
    EXPECT_EQ(none.fakes.boxes.Texts(), std::vector<QString>{"Failed to launch help."});
    EXPECT_EQ(none.fakes.boxes.boxes[0].icon, platform::BoxIcon::Exclamation);

    UpdaterHarness noOpener;
    noOpener.fakes.services.helpFile = h.fakes.services.helpFile;
    noOpener.fakes.shell.missingOpener = "xdg-open is not installed";
    noOpener.Run([&] { noOpener.Click(res::ID_HELP_HELPME); });
    EXPECT_EQ(noOpener.fakes.boxes.Texts(),
              std::vector<QString>{"Failed to launch help.\n\nxdg-open is not installed"})
        << "the box says what is missing";
}

TEST(CommandsTest, AboutShowsTheVersionAndItsOwnHelpContext) {
    UpdaterHarness h;
    h.fakes.services.helpFile = QString::fromStdString(h.dir.File("kestrome.html"));
    WriteFile(h.dir.File("kestrome.html"), "<html></html>");
    h.Run([&] {
        WhenModalOpens([&](QWidget* about) {
            EXPECT_EQ(about->windowTitle(), "About Kestrome");
            QStringList texts;
            bool iconShown = false;
            for (QLabel* label : about->findChildren<QLabel*>()) {
                texts << label->text();
                iconShown = iconShown || !label->pixmap().isNull();
            }
            EXPECT_TRUE(iconShown) << "the application icon is compiled in";
            EXPECT_TRUE(texts.contains("Kestrome Version 1.2"));
            QTest::keyClick(about, Qt::Key_F1);
            QTest::keyClick(about, Qt::Key_Return);
        });
        h.Click(res::ID_HELP_ABOUT);
        EXPECT_EQ(h.Status(), "Idle..");
    });
    ASSERT_EQ(h.fakes.shell.opened.size(), 1u);
    EXPECT_TRUE(h.fakes.shell.opened[0].endsWith("#0x20064"));
}

TEST(CommandsTest, OptionsSavedThereTakeEffectAndTheFieldsKeepTheirText) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "", "SavePassword=FALSE\n"));
    h.Run([&] {
        h.Type(res::IDC_PASSWORD, "typed");
        WhenModalOpens([&](QWidget* options) {
            Control<QCheckBox>(options, res::IDC_SAVE_PASSWORD)->click();
            Click(options, res::IDCANCEL);
            Click(options, res::IDOK);
        });
        h.Click(res::IDC_OPTIONS);
        EXPECT_EQ(h.Field(res::IDC_PASSWORD), "typed");
        EXPECT_EQ(h.Field(res::IDC_LOGIN), "joe");
        h.Click(res::ID_NETWORK_QUIT);
    });
    EXPECT_NE(h.Config().find("Password=typed\n"), std::string::npos)
        << "the saved SavePassword reached the main dialog";
}

TEST(CommandsTest, ClosingOptionsRepeatsTheMessagesOfValuesStillInvalid) {
    UpdaterHarness h;
    h.WriteConfig(Config("", "", "AttemptReconnect=maybe\n"));
    h.Run([&] {
        WhenModalOpens([&](QWidget* options) { Click(options, res::IDOK); });
        h.Click(res::ID_NETWORK_OPTIONS);
    });
    const QString message =
        "The AttemptReconnect does not have a valid value in your .cfg file - reseting to default";
    EXPECT_EQ(h.fakes.boxes.Texts(), std::vector<QString>(3, message))
        << "at start-up, at opening Options, and when Options closed";
}

TEST(CommandsTest, NetworkMenuConnectAndDisconnectWorkLikeTheButtons) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "pw", ""));
    h.Run([&] {
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_DISCONNECT));
        h.Click(res::ID_NETWORK_CONNECT);
        EXPECT_TRUE(h.Connected());
        EXPECT_TRUE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_DISCONNECT));
        h.Click(res::ID_NETWORK_DISCONNECT);
        EXPECT_FALSE(h.Connected());
        EXPECT_FALSE(h.dlg.IsMenuItemEnabled(res::ID_NETWORK_DISCONNECT));
    });
    EXPECT_EQ(h.server.Targets().size(), 1u);
}

}  // namespace
