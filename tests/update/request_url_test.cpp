#include "update/request_url.h"

#include <gtest/gtest.h>

#include "support/scripted_http_server.h"

using namespace update;

namespace {

TEST(RequestUrlTest, PlainValuesGoInAsTheyAre) {
    EXPECT_EQ(BuildRequestUrl("localhost:8245", "joe", "Secret-1._~"),
              "http://localhost:8245/process.php?login=joe&password=Secret-1._~");
}

TEST(RequestUrlTest, EverythingElseIsPercentEncodedAsUtf8) {
    EXPECT_EQ(PercentEncode("a b&c=d#e%f?g+h/"), "a%20b%26c%3Dd%23e%25f%3Fg%2Bh%2F");
    EXPECT_EQ(PercentEncode(QString::fromUtf8("Zoë")), "Zo%C3%AB");
}

TEST(RequestUrlTest, AStandardDecoderGetsBackExactlyWhatWasTyped) {
    const QString login = QString::fromUtf8("a b&c=d");
    const QString password = QString::fromUtf8("#%+?é ");
    std::string url = BuildRequestUrl("h", login, password);
    std::string target = url.substr(url.find("/process.php"));
    EXPECT_EQ(testsupport::QueryParameter(target, "login"), login.toStdString());
    EXPECT_EQ(testsupport::QueryParameter(target, "password"), password.toStdString());
}

}  // namespace
