// A real authoritative name server, Knot DNS, started by a test on 127.0.0.1
// at a free port for one zone (example.test) that accepts dynamic updates
// signed with one TSIG key, and stopped at the end.
#pragma once

#include <sys/types.h>
#include <string>

namespace testsupport {

class KnotServer {
public:
    static constexpr const char* kZone = "example.test";
    static constexpr const char* kKeyName = "kestrome";

    // Writes the configuration into dir and starts the server; the key may
    // transfer the zone and update any name but protectedLabel, when one is
    // given. zoneRecords are zone file lines the zone holds besides its own.
    explicit KnotServer(const std::string& dir, const std::string& protectedLabel = "",
                        const std::string& zoneRecords = "");
    ~KnotServer();
    KnotServer(const KnotServer&) = delete;
    KnotServer& operator=(const KnotServer&) = delete;

    // Empty when the server answers; otherwise why it does not.
    const std::string& Trouble() const { return trouble_; }
    int Port() const { return port_; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    // A key file as tsig-keygen writes it (mode 0600), with the server's key
    // or, when right is false, the same name with another secret.
    std::string KeyFile(bool right = true) const;

    void Stop();
    void Start();
    // The address records of LABEL.example.test as "A 60 127.0.0.1" lines,
    // sorted; empty when there are none.
    std::string Records(const std::string& label) const;
    // Waits up to seconds for Records(label) to be wanted; false if never.
    bool WaitFor(const std::string& label, const std::string& wanted, int seconds) const;

private:
    std::string dir_;
    int port_;
    pid_t pid_ = -1;
    std::string trouble_;
};

}  // namespace testsupport
