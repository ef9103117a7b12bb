#include "service/server.h"

#include <httplib.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <ostream>
#include <thread>

#include "service/update_decision.h"

namespace service {

namespace {

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A value shown in the log: every byte outside printable ASCII, and the quote
// and backslash, escaped, so that no request can forge or garble a line; long
// values cut.
std::string LogSafe(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 64)) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return text.size() > 64 ? out + "..." : out;
}

// Only GET records an update (the HTTP library also routes HEAD here).
void HandleUpdate(AccountStore& store, PasswordCheck& check, const httplib::Request& req,
                  httplib::Response& res) {
    if (req.method != "GET") {
        res.status = 405;
        res.set_header("Allow", "GET");
        return;
    }
    const UpdateReply reply = AnswerUpdate(store, check, req.get_param_value("login"),
                                           req.get_param_value("password"), req.remote_addr, Now());
    if (reply.code == kNotStored || reply.code == kTooManyFailures) {
        res.status = reply.code;
        return;
    }
    res.set_content(reply.body, "text/plain");
}

void LogRequest(std::ostream& log, std::mutex& mutex, const httplib::Request& req,
                const httplib::Response& res) {
    const bool update = req.path == "/process.php";
    std::lock_guard lock(mutex);
    log << FormatUtc(Now(), "%Y-%m-%dT%H:%M:%SZ") << " " << req.remote_addr << " "
        << LogSafe(req.method) << " " << LogSafe(req.path);
    if (update && res.status == 200) {
        log << " login=\"" << LogSafe(req.get_param_value("login"))
            << "\" reply=" << res.body.substr(0, 3);
    } else if (update) {
        log << " login=\"" << LogSafe(req.get_param_value("login")) << "\" status=" << res.status;
    } else {
        log << " status=" << res.status;
    }
    log << std::endl;
}

// Blocks the stop signals in every thread; the main thread waits for them.
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

std::string FormatUtc(std::int64_t when, const char* format) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

bool ParseListenAddress(const std::string& text, ListenAddress& out) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) {
        return false;
    }
    const int value = std::stoi(port);
    if (value < 1 || value > 65535) {
        return false;
    }
    out = {host, value};
    return true;
}

std::string HomePage() {
    return R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Kestrome update service</title></head>
<body>
<h1>Kestrome update service</h1>
<p>This service records the Internet address from which each account last
checked in. The Kestrome client asks it to do so when you press Connect, and
again every few minutes while it stays connected.</p>
<h2>Accounts</h2>
<p>An administrator creates an account on the service's machine with</p>
<pre>kestrome-service user add NAME</pre>
<p>which asks for the password. <code>kestrome-service user list</code> shows each
account with the address and time of its last update.</p>
</body></html>
)";
}

int Serve(AccountStore& store, const ListenAddress& address, std::ostream& log) {
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    httplib::Server server;
    std::mutex logMutex;
    PasswordCheck check;
    server.Get("/process.php",
               [&store, &check](const httplib::Request& req, httplib::Response& res) {
                   HandleUpdate(store, check, req, res);
               });
    // Only GET is served: a request body is refused before it is read.
    server.set_payload_max_length(0);
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(HomePage(), "text/html; charset=utf-8");
    });
    // Address reuse only: another server on the same port must make binding
    // fail. Replies go out at once instead of waiting for the client's ACK.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    server.set_logger([&log, &logMutex](const httplib::Request& req, const httplib::Response& res) {
        LogRequest(log, logMutex, req, res);
    });
    if (!server.bind_to_port(address.host, address.port)) {
        log << "kestrome-service: cannot listen on " << address.host << ":" << address.port
            << " (is the port taken by another program?)" << std::endl;
        return 1;
    }
    log << "kestrome-service: listening on " << address.host << ":" << address.port << std::endl;
    std::thread listener([&server] { server.listen_after_bind(); });

    int received = 0;
    sigwait(&signals, &received);
    log << "kestrome-service: stopping on signal " << received << std::endl;
    server.stop();
    listener.join();
    return 0;
}

}  // namespace service
