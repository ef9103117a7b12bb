// The HTTP client behind the update request: one libcurl easy handle, reused for
// every request so that connections to the service are kept alive.
//
// OpenUrl sends a GET (no extra headers, no cache, redirects followed up to
// kMaxRedirects, proxy from the environment) and fails exactly when no final
// HTTP response header arrived. The body is taken only up to the size the
// caller will read; the transfer stops there and the rest is never
// downloaded. Read then hands over what arrived; a failure after the header is
// a failed read.
//
// Time-outs: connecting may take at most Timeouts::connectMs, the whole
// exchange at most Timeouts::totalMs, so that a silent server cannot freeze
// the window for long (the exchange is synchronous by design). A close signal
// (SIGTERM, SIGINT, SIGHUP) ends the exchange at once as a failure.
//
// A service host with IPv4 and IPv6 addresses is reached over IPv4, and over
// IPv6 only when no IPv4 address connects: the reply holds an IPv4 address.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct InternetTimeouts {
    long connectMs = 10000;
    long totalMs = 20000;
};

class InternetRequest;

class InternetSession {
public:
    static constexpr long kMaxRedirects = 5;
    // The first read of a request may ask for at most this many bytes.
    static constexpr std::size_t kMaxRead = 4096;

    // Null when the HTTP client cannot be set up. fixedNames are
    // "host:port:address,..." entries resolved without asking the system.
    static std::unique_ptr<InternetSession> Open(const std::string& agent,
                                                 InternetTimeouts timeouts = {},
                                                 const std::vector<std::string>& fixedNames = {});
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // Null when the service could not be reached. readSize is how much of the
    // body the caller will read (at most kMaxRead).
    std::unique_ptr<InternetRequest> OpenUrl(const std::string& url, std::size_t readSize);

private:
    struct Impl;
    explicit InternetSession(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// One request whose body can be read once.
class InternetRequest {
public:
    InternetRequest(std::string body, bool complete);
    // Copies at most size bytes of the body into buf and sets bytesRead.
    // Returns false (and 0 bytes) when the transfer failed after the header.
    bool Read(char* buf, std::size_t size, std::size_t& bytesRead) const;

private:
    std::string body_;
    bool complete_;
};

// Starts and ends the HTTP client library for the process.
bool InternetStartup();
void InternetCleanup();

}  // namespace platform
