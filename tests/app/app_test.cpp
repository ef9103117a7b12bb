// The application object: the networking start-up failure and a close request
// from outside ending the program with the login saved.
#include "app/updater_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "app/updater_harness.h"

using namespace testsupport;

namespace {

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

TEST(AppTest, CloseRequestFromOutsideSavesAndEndsTheProgram) {
    TempDir dir;
    ScopedCurrentDir cwd(dir.Path());
    WriteFile(dir.File("kestrome.cfg"), Config("", "", "SavePassword=TRUE\n"));
    TestServices fakes;
    CUpdaterApp app(fakes.services);
    QTimer::singleShot(0, [&] {
        auto* login = QApplication::activeModalWidget()->findChildren<QLineEdit*>().at(0);
        login->setText("ann");
        app.RequestClose();
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_NE(ReadFile(dir.File("kestrome.cfg")).find("Login=ann\n"), std::string::npos);
}

}  // namespace
