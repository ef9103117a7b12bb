// A test of the real service publishing to a real Knot DNS it starts, over
// plain HTTP and its own TLS, with the account joe (password "pw") and
// whatever accounts and options the test adds before it starts.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "support/http_client.h"
#include "support/knot_server.h"
#include "support/service_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace testsupport {

class PublishedServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/sbin/knotd", X_OK) != 0) {
            GTEST_SKIP() << "Knot DNS is not installed (scripts/install-deps installs it)";
        }
        ASSERT_EQ(knot.Trouble(), "");
        ASSERT_EQ(certificate.trouble, "");
        AddAccount(db, "joe", "pw");
        std::vector<std::string> options{
            "--dns-server",    knot.HostPort(),  "--dns-zone",
            KnotServer::kZone, "--dns-key",      knot.KeyFile(),
            "--tls-cert",      certificate.cert, "--tls-key",
            certificate.key,   "--tls-listen",   "127.0.0.1:" + std::to_string(tlsPort)};
        for (const std::string& option : BeforeStart()) {
            options.push_back(option);
        }
        service = std::make_unique<ServiceProcess>(db, 0, "127.0.0.1", -1, 0, options);
        ASSERT_TRUE(service->Ready()) << service->Log();
    }
    // Adds what the test needs before the service starts; the options it
    // needs besides the others.
    virtual std::vector<std::string> BeforeStart() { return {}; }

    TempDir dir;
    const std::string db = dir.File("s.db");
    // The name server refuses updates of kLockedLabel.
    static constexpr const char* kLockedLabel = "locked";
    KnotServer knot{dir.Path(), kLockedLabel};
    const TestCertificate certificate = MakeTestCertificate(dir.Path(), "service");
    const int tlsPort = FreeLoopbackPort();
    std::unique_ptr<ServiceProcess> service;
    HttpClient client;
};

}  // namespace testsupport
