#include "support/scripted_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr int kPollMs = 20;
constexpr int kRequestWaitMs = 5000;

}  // namespace

Connection::Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

Connection::~Connection() {
    close(fd_);
}

std::string Connection::ReadRequest() {
    head_.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    char buf[4096];
    while (head_.find("\r\n\r\n") == std::string::npos && !stopping_ &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            break;
        }
        head_.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t sp1 = head_.find(' ');
    std::size_t sp2 = sp1 == std::string::npos ? sp1 : head_.find(' ', sp1 + 1);
    target_ = sp2 == std::string::npos ? "" : head_.substr(sp1 + 1, sp2 - sp1 - 1);
    return head_;
}

bool Connection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size() && !stopping_) {
        ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return sent == bytes.size();
}

void Connection::Reply(const std::string& body, int status, const std::string& extraHeaders) {
    Send("HTTP/1.1 " + std::to_string(status) + " Scripted\r\nContent-Type: text/plain\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
         extraHeaders + "\r\n" + body);
}

void Connection::Reset() {
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd_);
    fd_ = -1;
}

bool Connection::WaitForClientClose(int maxMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    char buf[4096];
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kPollMs) > 0) {
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                return true;
            }
        }
    }
    return false;
}

ScriptedHttpServer::ScriptedHttpServer(const std::string& address, int port) : address_(address) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        len = sizeof *v6;
    } else {
        throw std::runtime_error("scripted server: not a loopback address: " + address);
    }
    listenFd_ = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (addr.ss_family == AF_INET6) {
        setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    }
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(listenFd_, 64) != 0) {
        throw std::runtime_error("scripted server cannot listen");
    }
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    ReplyWith("100" + address);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stopping_ = true;
    thread_.join();
    close(listenFd_);
}

void ScriptedHttpServer::SetScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

void ScriptedHttpServer::ReplyWith(const std::string& body, int status) {
    SetScript([this, body, status](Connection& c) {
        c.ReadRequest();
        RecordRequest(c);
        c.Reply(body, status);
    });
}

void ScriptedHttpServer::RecordRequest(const Connection& c) {
    std::lock_guard lock(mutex_);
    targets_.push_back(c.Target());
    heads_.push_back(c.Head());
}

std::string ScriptedHttpServer::HostPort() const {
    const bool v6 = address_.find(':') != std::string::npos;
    return (v6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_);
}

std::vector<std::string> ScriptedHttpServer::Targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
}

std::vector<std::string> ScriptedHttpServer::Heads() const {
    std::lock_guard lock(mutex_);
    return heads_;
}

ScriptedHttpServer::Script ScriptedHttpServer::CurrentScript() const {
    std::lock_guard lock(mutex_);
    return script_;
}

void ScriptedHttpServer::Serve() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        Connection connection(fd, stopping_);
        CurrentScript()(connection);
    }
}

std::string DecodeQueryValue(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string QueryParameter(const std::string& target, const std::string& name) {
    std::size_t q = target.find('?');
    std::string query = q == std::string::npos ? "" : target.substr(q + 1);
    std::size_t pos = 0;
    while (pos <= query.size()) {
        std::size_t amp = query.find('&', pos);
        std::string pair =
            query.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) {
            return eq == std::string::npos ? "" : DecodeQueryValue(pair.substr(eq + 1));
        }
        if (amp == std::string::npos) {
            break;
        }
        pos = amp + 1;
    }
    return {};
}

}  // namespace testsupport
