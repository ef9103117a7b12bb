// A certificate authority made for one test by the openssl command, and a
// server certificate for 127.0.0.1 that it signed.
#pragma once

#include <string>

namespace testsupport {

struct TestCertificate {
    std::string ca;       // the authority's certificate, for clients to trust
    std::string cert;     // the server's, PEM
    std::string key;      // the server's key, PEM, mode 0600
    std::string trouble;  // empty when all were made
};

// Makes them in dir, with name in every file's name.
TestCertificate MakeTestCertificate(const std::string& dir, const std::string& name);

}  // namespace testsupport
