#include "support/test_certificate.h"

#include <cstdlib>

#include "support/temp_dir.h"

namespace testsupport {

TestCertificate MakeTestCertificate(const std::string& dir, const std::string& name) {
    const std::string base = dir + "/" + name;
    TestCertificate made{base + "-ca.pem", base + ".pem", base + ".key", ""};
    const std::string curve = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
    const std::string commands =
        "umask 077 && openssl req -x509" + curve + " -keyout '" + base + "-ca.key' -out '" +
        made.ca + "' -days 2 -subj '/CN=" + name + " test authority' && openssl req" + curve +
        " -keyout '" + made.key + "' -out '" + base + ".csr' -subj /CN=127.0.0.1 &&" +
        " printf 'subjectAltName=IP:127.0.0.1\\n' > '" + base + ".ext' && openssl x509 -req -in '" +
        base + ".csr' -CA '" + made.ca + "' -CAkey '" + base + "-ca.key' -CAcreateserial" +
        " -days 2 -extfile '" + base + ".ext' -out '" + made.cert + "'";
    if (std::system(("(" + commands + ") > '" + base + ".log' 2>&1").c_str()) != 0) {
        made.trouble = "openssl could not make the test certificates: " + ReadFile(base + ".log");
    }
    return made;
}

}  // namespace testsupport
