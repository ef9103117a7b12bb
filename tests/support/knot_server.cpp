#include "support/knot_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>
#include <vector>

#include "support/service_process.h"
#include "support/temp_dir.h"

namespace testsupport {

namespace {

constexpr const char* kKnotd = "/usr/sbin/knotd";
constexpr const char* kKdig = "/usr/bin/kdig";
constexpr const char* kSecret = "XKd3Cb22bOt0hQUQaQJqxESo3HEO+UnvgrNUw95c/Vs=";
constexpr const char* kOtherSecret = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

}  // namespace

KnotServer::KnotServer(const std::string& dir, const std::string& protectedLabel,
                       const std::string& zoneRecords)
    : dir_(dir), port_(FreeLoopbackPort()) {
    if (access(kKnotd, X_OK) != 0 || access(kKdig, X_OK) != 0) {
        trouble_ = "Knot DNS (knotd, kdig) is not installed; scripts/install-deps installs it";
        return;
    }
    WriteFile(dir_ + "/example.test.zone",
              "$ORIGIN example.test.\n$TTL 300\n"
              "@ SOA ns.example.test. admin.example.test. 1 3600 600 86400 60\n"
              "@ NS ns.example.test.\nns A 127.0.0.1\n" +
                  zoneRecords);
    WriteFile(dir_ + "/knot.conf",
              "server:\n  listen: 127.0.0.1@" + std::to_string(port_) + "\n  rundir: " + dir_ +
                  "\nkey:\n  - id: " + kKeyName + "\n    algorithm: hmac-sha256\n    secret: " +
                  kSecret + "\nacl:\n  - id: protect\n    key: " + kKeyName +
                  "\n    action: update\n    update-owner: name\n    update-owner-match: "
                  "equal\n    update-owner-name: " +
                  (protectedLabel.empty() ? "nothing-protected" : protectedLabel) +
                  "\n    deny: on\n  - id: update\n    key: " + kKeyName +
                  "\n    action: update\n  - id: transfer\n    key: " + kKeyName +
                  "\n    action: transfer\n"
                  "template:\n  - id: default\n    storage: " +
                  dir_ +
                  "\n    zonefile-sync: -1\n    journal-content: none\n"
                  "zone:\n  - domain: example.test\n    file: example.test.zone\n    acl: "
                  "[protect, update, transfer]\n"
                  "database:\n  storage: " +
                  dir_ +
                  "/db\n"
                  "log:\n  - target: stderr\n    any: warning\n");
    Start();
}

KnotServer::~KnotServer() {
    Stop();
}

std::string KnotServer::KeyFile(bool right) const {
    const std::string path = dir_ + (right ? "/right.key" : "/wrong.key");
    WriteFile(path, std::string("key \"") + kKeyName +
                        "\" {\n\talgorithm hmac-sha256;\n\tsecret \"" +
                        (right ? kSecret : kOtherSecret) + "\";\n};\n");
    chmod(path.c_str(), 0600);
    return path;
}

void KnotServer::Start() {
    const std::string config = dir_ + "/knot.conf";
    const std::string log = dir_ + "/knotd.log";
    pid_ = fork();
    if (pid_ == 0) {
        dup2(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), STDERR_FILENO);
        execl(kKnotd, "knotd", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
        if (CommandOutput(std::string(kKdig) + " @127.0.0.1 -p " + std::to_string(port_) +
                          " example.test SOA +short +tcp +time=1 +retry=0 2>/dev/null")
                .find("ns.example.test.") != std::string::npos) {
            trouble_.clear();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    trouble_ = "knotd did not answer: " + ReadFile(log);
}

void KnotServer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

std::string KnotServer::Records(const std::string& label) const {
    const std::string name = label + ".example.test";
    std::istringstream answer(CommandOutput(
        std::string(kKdig) + " @127.0.0.1 -p " + std::to_string(port_) +
        " +noall +answer +time=1 +retry=0 " + name + " A " + name + " AAAA 2>/dev/null"));
    std::vector<std::string> records;
    std::string owner, ttl, klass, type, data;
    while (answer >> owner >> ttl >> klass >> type >> data) {
        records.push_back(type + " " + ttl + " " + data);
    }
    std::sort(records.begin(), records.end());
    std::string text;
    for (const std::string& r : records) {
        text += (text.empty() ? "" : "\n") + r;
    }
    return text;
}

bool KnotServer::WaitFor(const std::string& label, const std::string& wanted, int seconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (Records(label) != wanted) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace testsupport
