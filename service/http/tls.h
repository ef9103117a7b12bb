// TLS for the server's connections, on OpenSSL: a context made from a
// certificate chain and its key, and one connection's session over a
// non-blocking socket, read and written as the plain socket is, with the
// direction to wait in when it cannot go on.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace service {

// What one non-blocking read or write did.
struct IoResult {
    enum class State { Done, WaitRead, WaitWrite, Failed };
    std::size_t bytes = 0;
    State state = State::Done;
};

// TLS 1.2 and 1.3 from certFile (the chain, leaf first) and keyFile (PEM);
// null with error set when they do not load or do not match.
std::shared_ptr<ssl_ctx_st> LoadTlsContext(const std::string& certFile, const std::string& keyFile,
                                           std::string& error);

class TlsSession {
public:
    // The server's side of a session on fd; it keeps context alive.
    TlsSession(const std::shared_ptr<ssl_ctx_st>& context, int fd);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    bool Usable() const { return ssl_ != nullptr; }
    // The handshake goes on within the first reads.
    IoResult Read(char* out, std::size_t room);
    IoResult Write(const char* data, std::size_t size);

private:
    IoResult Outcome(int result);

    ssl_st* ssl_;
};

}  // namespace service
