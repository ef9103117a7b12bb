// The service over HTTPS, with certificates made by each test: the same
// routes as plain HTTP, a renewed certificate taken at SIGHUP, and the head
// deadline holding for a handshake that never ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/http_client.h"
#include "support/service_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

using namespace testsupport;

namespace {

bool LogSays(const ServiceProcess& service, const std::string& text) {
    for (int i = 0; i < 100 && service.Log().find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return service.Log().find(text) != std::string::npos;
}

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(first.trouble, "");
        ASSERT_EQ(renewed.trouble, "");
        std::filesystem::copy_file(first.cert, cert);
        std::filesystem::copy_file(first.key, key);
        AddAccount(db, "joe", "pw");
    }
    // The reply to joe's update over HTTPS at port, trusting only ca.
    std::optional<std::string> Update(int port, const std::string& ca) {
        HttpClient client;
        client.TrustOnly(ca);
        return client.Get("https://127.0.0.1:" + std::to_string(port) +
                          "/process.php?login=joe&password=pw");
    }

    TempDir dir;
    const std::string db = dir.File("s.db");
    const TestCertificate first = MakeTestCertificate(dir.Path(), "first");
    const TestCertificate renewed = MakeTestCertificate(dir.Path(), "renewed");
    const std::string cert = dir.File("served.pem");
    const std::string key = dir.File("served.key");
};

// Beside the plain listener, the TLS one answers the same routes. At SIGHUP a
// renewed certificate serves new connections while an open one goes on; a
// file that does not load is told, and the pair before stays.
TEST_F(TlsTest, TheSameRoutesOverTlsAndARenewalAtHangUp) {
    const int tlsPort = FreeLoopbackPort();
    ServiceProcess service(db, 0, "127.0.0.1", -1, 0,
                           {"--tls-cert", cert, "--tls-key", key, "--tls-listen",
                            "127.0.0.1:" + std::to_string(tlsPort)});
    ASSERT_TRUE(service.Ready()) << service.Log();
    ASSERT_TRUE(LogSays(service, "listening on 127.0.0.1:" + std::to_string(tlsPort) + " (TLS)"));
    EXPECT_EQ(Update(tlsPort, first.ca), "100127.0.0.1");
    EXPECT_EQ(
        HttpClient().Get("http://" + service.HostPort() + "/process.php?login=joe&password=pw"),
        "100127.0.0.1");
    HttpClient open;
    open.TrustOnly(first.ca);
    const std::string checkIp = "https://127.0.0.1:" + std::to_string(tlsPort) + "/checkip";
    ASSERT_TRUE(open.Get(checkIp));

    std::filesystem::copy_file(renewed.cert, cert,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(renewed.key, key, std::filesystem::copy_options::overwrite_existing);
    kill(service.Pid(), SIGHUP);
    ASSERT_TRUE(LogSays(service, "loaded again for new connections")) << service.Log();
    EXPECT_EQ(Update(tlsPort, renewed.ca), "100127.0.0.1");
    EXPECT_FALSE(Update(tlsPort, first.ca)) << "the old certificate is still served";
    const auto again = open.Get(checkIp);
    ASSERT_TRUE(again);
    EXPECT_NE(again->find("Current IP Address: 127.0.0.1"), std::string::npos);
    EXPECT_EQ(open.NewConnections(), 0) << "the open connection was not kept";

    WriteFile(cert, "not a certificate\n");
    kill(service.Pid(), SIGHUP);
    EXPECT_TRUE(LogSays(service, "TLS certificate not renewed (" + cert)) << service.Log();
    EXPECT_EQ(Update(tlsPort, renewed.ca), "100127.0.0.1");
    EXPECT_EQ(service.Stop(), 0);
}

// Without --tls-listen the one listener speaks TLS only; a client that starts
// a handshake and never ends it is cut off at the head deadline, while others
// are served.
TEST_F(TlsTest, TheListenerSpeaksTlsOnlyAndAStalledHandshakeIsCutOff) {
    ServiceProcess service(db, 0, "127.0.0.1", -1, 0, {"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(service.Ready()) << service.Log();
    EXPECT_FALSE(HttpClient().Get("http://" + service.HostPort() + "/checkip"));

    const int stalled = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(service.Port()));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    ASSERT_EQ(send(stalled, "\x16\x03\x01", 3, MSG_NOSIGNAL), 3);  // a record that never ends
    EXPECT_EQ(Update(service.Port(), first.ca), "100127.0.0.1");
    pollfd ready{stalled, POLLIN, 0};
    char byte;
    EXPECT_TRUE(poll(&ready, 1, 15000) == 1 && recv(stalled, &byte, 1, 0) <= 0)
        << "the stalled handshake was not cut off";
    close(stalled);
}

}  // namespace
