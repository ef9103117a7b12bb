// The diagnostics channel: silent by default; switched on, one line per failed
// settings write or request, with the reason and without the password.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QLoggingCategory>
#include <QStringList>

#include "platform/files/profile.h"
#include "platform/net/internet_session.h"
#include "support/scripted_http_server.h"
#include "support/temp_dir.h"

namespace {

QStringList captured;

void Capture(QtMsgType, const QMessageLogContext& context, const QString& text) {
    captured << QString::fromUtf8(context.category) + ": " + text;
}

// Collects what the program logs while it lives, with the given rules.
class LogCapture {
public:
    explicit LogCapture(const QString& rules) : previous_(qInstallMessageHandler(Capture)) {
        captured.clear();
        QLoggingCategory::setFilterRules(rules);
    }
    ~LogCapture() {
        QLoggingCategory::setFilterRules({});
        qInstallMessageHandler(previous_);
    }

private:
    QtMessageHandler previous_;
};

// A settings write refused by a read-only file, and a request to a closed port
// whose address carries a password.
void FailAWriteAndARequest() {
    testsupport::TempDir dir;
    const std::string path = dir.File("kestrome.cfg");
    ASSERT_TRUE(platform::WritePrivateProfileString("Main", "Login", "joe", path));
    chmod(path.c_str(), 0400);
    EXPECT_FALSE(platform::WritePrivateProfileString("Main", "Password", "secretpw", path));
    int port = 0;
    {
        testsupport::ScriptedHttpServer gone;
        port = gone.Port();
    }
    auto session = platform::InternetSession::Open("test", {1000, 2000});
    const std::string url =
        "http://127.0.0.1:" + std::to_string(port) + "/?username=joe&password=secretpw";
    EXPECT_EQ(session->OpenUrl(url, 18), nullptr);
}

TEST(DiagnosticsTest, SilentByDefault) {
    LogCapture log(QString{});
    FailAWriteAndARequest();
    EXPECT_TRUE(captured.isEmpty()) << captured.join("\n").toStdString();
}

TEST(DiagnosticsTest, SwitchedOnEachFailureGivesOneLineWithItsReasonAndNoPassword) {
    LogCapture log("kestrome.*=true");
    FailAWriteAndARequest();
    ASSERT_EQ(captured.size(), 2) << captured.join("\n").toStdString();
    EXPECT_TRUE(captured[0].startsWith("kestrome.settings: cannot write Password to "));
    EXPECT_TRUE(captured[0].endsWith(": Permission denied")) << captured[0].toStdString();
    EXPECT_TRUE(captured[1].startsWith("kestrome.http: request failed: Couldn't connect"))
        << captured[1].toStdString();
    EXPECT_FALSE(captured.join("\n").contains("secretpw"));
}

}  // namespace
