// A scripted HTTP server on a loopback address for tests: each connection is handed to a
// script that reads the request and answers however the test wants (a normal
// reply, a reset, silence, garbage). Runs on its own thread; every wait is
// bounded and ends when the server is destroyed.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// One accepted connection, as the script sees it.
class Connection {
public:
    Connection(int fd, const std::atomic<bool>& stopping);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads the request head; empty when none arrived.
    std::string ReadRequest();
    // "/path?query" of the request line read last.
    const std::string& Target() const { return target_; }
    const std::string& Head() const { return head_; }

    bool Send(const std::string& bytes);
    // Sends a complete HTTP/1.1 reply that closes the connection.
    void Reply(const std::string& body, int status = 200, const std::string& extraHeaders = "");
    // Ends the connection with a TCP reset.
    void Reset();
    // Waits until the client closes or the server stops (bounded by maxMs);
    // true when the client closed.
    bool WaitForClientClose(int maxMs);

private:
    int fd_;
    const std::atomic<bool>& stopping_;
    std::string head_;
    std::string target_;
};

class ScriptedHttpServer {
public:
    using Script = std::function<void(Connection&)>;

    // Listens on a loopback address (IPv4 or IPv6) at port, 0 for a free one,
    // and answers every request with "100<address>" until another script is set.
    explicit ScriptedHttpServer(const std::string& address = "127.0.0.1", int port = 0);
    ~ScriptedHttpServer();

    void SetScript(Script script);
    void ReplyWith(const std::string& body, int status = 200);

    std::string HostPort() const;
    int Port() const { return port_; }
    // The request targets seen so far ("/process.php?login=...").
    std::vector<std::string> Targets() const;
    std::vector<std::string> Heads() const;
    void RecordRequest(const Connection& c);

private:
    void Serve();
    Script CurrentScript() const;

    std::string address_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    Script script_;
    std::vector<std::string> targets_;
    std::vector<std::string> heads_;
    std::thread thread_;
};

// Decodes a percent-encoded query value the standard way ('+' is a blank).
std::string DecodeQueryValue(const std::string& text);
// The decoded value of one parameter of a target's query.
std::string QueryParameter(const std::string& target, const std::string& name);

}  // namespace testsupport
