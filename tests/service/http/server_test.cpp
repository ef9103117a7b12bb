// The HTTP server's admission: the cap per address block, and at the cap in
// all, the longest-idle connection making room, never one that waits for its
// answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "service/http/descriptors.h"
#include "service/http/server.h"
#include "service/http/stop_signals.h"

using namespace service;

namespace {

constexpr int kWaitMs = 5000;
constexpr const char* kRequest = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";

// A client socket on loopback, from the given source address.
class Client {
public:
    Client(int port, const char* from = "127.0.0.1") : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, from, &source.sin_addr);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        connected_ = bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                     connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Send(const std::string& text) {
        return connected_ && send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
                                 static_cast<ssize_t>(text.size());
    }
    // What arrives until a whole head and its body of "ok" is in, the server
    // closes, or nothing comes for a while.
    std::string Receive() {
        std::string got;
        char buffer[4096];
        while (got.find("\r\n\r\nok") == std::string::npos) {
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, kWaitMs) != 1) {
                break;
            }
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    // Sends a request and tells whether it was answered.
    bool Served() { return Send(kRequest) && Receive().starts_with("HTTP/1.1 200 OK"); }
    // Whether the server has closed the connection (waiting a while for it).
    bool Closed() {
        Receive();
        return closed_;
    }

private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
};

class HttpServerTest : public ::testing::Test {
protected:
    void Start(ServerLimits limits) {
        server_ = std::make_unique<HttpServer>(
            [this](const HttpRequest& request, const std::string&,
                   HttpServer::Reply reply) -> std::optional<HttpResponse> {
                if (request.path == "/wait") {
                    held_.set_value(std::move(reply));
                    return std::nullopt;
                }
                return HttpResponse::Content("text/plain", "ok");
            },
            [](const std::string&, const HttpRequest*, const HttpResponse&) {},
            [](const std::string&) {}, limits);
        std::string error;
        ASSERT_TRUE(server_->Listen("127.0.0.1", 0, error)) << error;
        port = server_->Port();
        // The serving thread is born with the stop signals blocked, so that
        // only its signal descriptor hears the one that ends the test.
        sigset_t before;
        const sigset_t stop = StopSignals();
        pthread_sigmask(SIG_BLOCK, &stop, &before);
        thread_ = std::thread([this] { server_->Run(); });
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    void TearDown() override {
        if (thread_.joinable()) {
            pthread_kill(thread_.native_handle(), SIGTERM);
            thread_.join();
        }
    }
    // The reply of the request to /wait, once it has reached the handler.
    HttpServer::Reply HeldReply() { return held_.get_future().get(); }

    int port = 0;

private:
    std::unique_ptr<HttpServer> server_;
    std::thread thread_;
    std::promise<HttpServer::Reply> held_;
};

TEST_F(HttpServerTest, AtTheCapTheLongestIdleConnectionMakesRoom) {
    Start({.maxConnectionsPerAddress = 8, .maxConnections = 2});
    Client first(port), second(port);
    ASSERT_TRUE(first.Served());
    ASSERT_TRUE(second.Served());
    Client third(port);
    EXPECT_TRUE(third.Served()) << "a newcomer is admitted at the cap";
    EXPECT_TRUE(first.Closed()) << "the connection idle the longest made room";
    EXPECT_TRUE(second.Served());
}

TEST_F(HttpServerTest, AConnectionWaitingForItsAnswerIsNeverCutToMakeRoom) {
    Start({.maxConnectionsPerAddress = 8, .maxConnections = 2});
    Client waiting(port);
    ASSERT_TRUE(waiting.Send("GET /wait HTTP/1.1\r\nHost: x\r\n\r\n"));
    HttpServer::Reply reply = HeldReply();
    Client idle(port);
    ASSERT_TRUE(idle.Served());
    Client newcomer(port);
    EXPECT_TRUE(newcomer.Served());
    EXPECT_TRUE(idle.Closed()) << "the idle one made room";
    reply(HttpResponse::Content("text/plain", "ok"));
    EXPECT_TRUE(waiting.Receive().starts_with("HTTP/1.1 200 OK"))
        << "and the waiting one is answered";
}

TEST_F(HttpServerTest, AnAddressAtItsCapIsRefusedAndOthersAreNot) {
    Start({.maxConnectionsPerAddress = 1, .maxConnections = 8});
    Client one(port, "127.0.0.1");
    ASSERT_TRUE(one.Served());
    Client two(port, "127.0.0.1");
    EXPECT_TRUE(two.Closed()) << "a second connection of the same address is closed at once";
    Client elsewhere(port, "127.0.0.2");
    EXPECT_TRUE(elsewhere.Served());
    EXPECT_TRUE(one.Served()) << "the address's first connection is kept";
}

// Which accept errors mean the process or system ran out of descriptors or
// buffers (accepting waits for a connection to close) and which are one
// client's (accepting goes on at once).
TEST(DescriptorsTest, RunningOutIsToldFromAClientsOwnFailure) {
    using boost::system::error_code;
    using boost::system::system_category;
    for (const int out : {EMFILE, ENFILE, ENOBUFS, ENOMEM}) {
        EXPECT_TRUE(OutOfDescriptors(error_code(out, system_category()))) << out;
    }
    for (const int client : {ECONNABORTED, EPROTO, EPERM}) {
        EXPECT_FALSE(OutOfDescriptors(error_code(client, system_category()))) << client;
    }
}

}  // namespace
