#include "service/http_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace service {

namespace {

using Clock = std::chrono::steady_clock;

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

// Event sources that are not connections; connection ids start above them.
enum : std::uint64_t { kListenId = 1, kInboxId, kSignalId, kFirstConnectionId };

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Error";
    }
}

std::string Serialize(const HttpResponse& r, bool withBody, bool keepAlive) {
    std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + Reason(r.status) + "\r\n";
    if (!r.contentType.empty()) {
        out += "Content-Type: " + r.contentType + "\r\n";
    }
    if (!r.allow.empty()) {
        out += "Allow: " + r.allow + "\r\n";
    }
    out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return withBody ? out + r.body : out;
}

// An IPv4 client of a socket listening on [::] arrives as ::ffff:a.b.c.d; it is
// told and recorded as the IPv4 address it is.
std::string PeerText(const sockaddr_storage& addr) {
    char text[INET6_ADDRSTRLEN] = "";
    if (addr.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, text, sizeof text);
    } else if (addr.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        } else {
            inet_ntop(AF_INET6, &v6, text, sizeof text);
        }
    }
    return text;
}

// Room for as many connections as the descriptor limit allows, raised as far
// as this process may.
int ConnectionsAllowedByDescriptors() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    constexpr rlim_t kReserved = 64;  // database, log, the server's own
    return limit.rlim_cur > kReserved
               ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur - kReserved, 1 << 20))
               : 1;
}

// Answers handed back by other threads, woken through an eventfd. Shared with
// every pending Reply, so a late answer after the server is gone is dropped.
struct Inbox {
    int eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, HttpResponse>> answers;
    bool closed = false;

    ~Inbox() { close(eventFd); }
    void Put(std::uint64_t id, HttpResponse response) {
        std::lock_guard lock(mutex);
        if (closed) {
            return;
        }
        answers.emplace_back(id, std::move(response));
        // Only the first answer of a batch wakes the loop, which takes them all.
        if (answers.size() == 1) {
            const std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = write(eventFd, &one, sizeof one);
        }
    }
    std::vector<std::pair<std::uint64_t, HttpResponse>> Take() {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = read(eventFd, &count, sizeof count);
        std::lock_guard lock(mutex);
        return std::exchange(answers, {});
    }
    void Close() {
        std::lock_guard lock(mutex);
        closed = true;
        answers.clear();
    }
};

enum class Phase { Reading, Answering, Writing };

struct Connection {
    int fd = -1;
    std::string peer;
    Phase phase = Phase::Reading;
    std::string in;
    std::string out;
    std::size_t sent = 0;
    HttpRequest request;  // the one being answered
    bool closeAfterReply = false;
    bool registered = false;  // added to epoll once, re-armed after each event
    std::uint64_t deadlineSerial = 0;
};

struct Deadline {
    Clock::time_point when;
    std::uint64_t id;
    std::uint64_t serial;
};

}  // namespace

struct HttpServer::Impl {
    Handler handler;
    Logger logger;
    ServerLimits limits;
    int listenFd = -1;
    int epollFd = epoll_create1(EPOLL_CLOEXEC);
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    std::unordered_map<std::uint64_t, Connection> connections;
    std::unordered_map<std::string, int> perAddress;
    // Every deadline is the same span from the moment it is set, so this is
    // ordered by time; a connection's older entries are skipped by serial.
    std::deque<Deadline> deadlines;
    std::uint64_t nextId = kFirstConnectionId;

    ~Impl() {
        for (auto& [id, c] : connections) {
            close(c.fd);
        }
        inbox->Close();
        if (listenFd >= 0) {
            close(listenFd);
        }
        close(epollFd);
    }

    void Watch(int fd, std::uint64_t id, std::uint32_t events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = id;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
    }

    // One-shot interest: nothing more is reported for the connection until it
    // is re-armed, which is never done while its answer is being worked out.
    void Arm(std::uint64_t id, Connection& c) {
        epoll_event ev{};
        ev.events = EPOLLONESHOT | (c.phase == Phase::Writing ? EPOLLOUT : EPOLLIN);
        ev.data.u64 = id;
        epoll_ctl(epollFd, c.registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.fd, &ev);
        c.registered = true;
    }

    void SetDeadline(std::uint64_t id, Connection& c) {
        deadlines.push_back({Clock::now() + limits.deadline, id, ++c.deadlineSerial});
    }

    void Drop(std::uint64_t id) {
        auto it = connections.find(id);
        if (it == connections.end()) {
            return;
        }
        close(it->second.fd);
        if (--perAddress[it->second.peer] == 0) {
            perAddress.erase(it->second.peer);
        }
        connections.erase(it);
    }

    void AcceptAll() {
        for (;;) {
            sockaddr_storage addr{};
            socklen_t length = sizeof addr;
            const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                return;  // EAGAIN, or out of descriptors until one closes
            }
            std::string peer = PeerText(addr);
            int& count = perAddress[peer];
            if (count >= limits.maxConnectionsPerAddress ||
                static_cast<int>(connections.size()) >= limits.maxConnections) {
                if (count == 0) {
                    perAddress.erase(peer);
                }
                close(fd);  // refused at once, so it holds no place
                continue;
            }
            ++count;
            const int yes = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            const std::uint64_t id = nextId++;
            Connection& c = connections[id];
            c.fd = fd;
            c.peer = std::move(peer);
            SetDeadline(id, c);
            Arm(id, c);
        }
    }

    void OnReadable(std::uint64_t id, Connection& c) {
        // Never more than one head's worth is held: the parser refuses beyond that.
        char buffer[kMaxHeadBytes + 1];
        const ssize_t n =
            recv(c.fd, buffer, sizeof buffer - std::min(c.in.size(), kMaxHeadBytes), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            Drop(id);
            return;
        }
        if (n > 0) {
            c.in.append(buffer, static_cast<std::size_t>(n));
        }
        ReadRequests(id, c);
    }

    // Takes the next request from what has arrived, if it is complete.
    void ReadRequests(std::uint64_t id, Connection& c) {
        HttpRequest request;
        std::size_t consumed = 0;
        const HeadResult result = ParseRequestHead(c.in, request, consumed);
        if (result == HeadResult::Incomplete) {
            Arm(id, c);
            return;
        }
        if (result != HeadResult::Complete) {
            c.in.clear();
            Answer(id, c, nullptr, HttpResponse::Status(static_cast<int>(result)));
            return;
        }
        c.in.erase(0, consumed);
        c.request = std::move(request);
        c.phase = Phase::Answering;
        std::weak_ptr<Inbox> inboxRef = inbox;
        Reply later = [inboxRef, id](HttpResponse response) {
            if (auto box = inboxRef.lock()) {
                box->Put(id, std::move(response));
            }
        };
        if (std::optional<HttpResponse> now = handler(c.request, c.peer, std::move(later))) {
            Answer(id, c, &c.request, *now);
        }
    }

    // Logs and sends an answer; a null request is one that could not be read,
    // after which the connection is closed.
    void Answer(std::uint64_t id, Connection& c, const HttpRequest* request,
                const HttpResponse& response) {
        logger(c.peer, request, response);
        c.closeAfterReply = request == nullptr || !request->keepAlive;
        c.out = Serialize(response, request == nullptr || request->method != "HEAD",
                          !c.closeAfterReply);
        c.sent = 0;
        c.phase = Phase::Writing;
        SetDeadline(id, c);
        OnWritable(id, c);
    }

    void OnWritable(std::uint64_t id, Connection& c) {
        while (c.sent < c.out.size()) {
            const ssize_t n =
                send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                Arm(id, c);
                return;
            }
            if (n <= 0) {
                Drop(id);
                return;
            }
            c.sent += static_cast<std::size_t>(n);
        }
        if (c.closeAfterReply) {
            Drop(id);
            return;
        }
        c.out.clear();
        c.phase = Phase::Reading;
        SetDeadline(id, c);
        ReadRequests(id, c);  // a request may already be waiting behind this one
    }

    void OnConnectionEvent(std::uint64_t id) {
        auto it = connections.find(id);
        if (it == connections.end()) {
            return;
        }
        Connection& c = it->second;
        if (c.phase == Phase::Writing) {
            OnWritable(id, c);
        } else if (c.phase == Phase::Reading) {
            OnReadable(id, c);
        }
    }

    void DeliverAnswers() {
        for (auto& [id, response] : inbox->Take()) {
            auto it = connections.find(id);
            if (it != connections.end() && it->second.phase == Phase::Answering) {
                Answer(id, it->second, &it->second.request, response);
            }
        }
    }

    // A head that did not arrive in time is answered 408 and logged when part
    // of it came; an idle connection is simply closed. So is a client that
    // does not take its reply.
    void ExpireDeadlines() {
        const auto now = Clock::now();
        while (!deadlines.empty() && deadlines.front().when <= now) {
            const Deadline d = deadlines.front();
            deadlines.pop_front();
            auto it = connections.find(d.id);
            if (it == connections.end() || it->second.deadlineSerial != d.serial ||
                it->second.phase == Phase::Answering) {
                continue;
            }
            Connection& c = it->second;
            if (c.phase == Phase::Reading && !c.in.empty()) {
                const HttpResponse timeout = HttpResponse::Status(408);
                logger(c.peer, nullptr, timeout);
                const std::string text = Serialize(timeout, false, false);
                [[maybe_unused]] ssize_t n = send(c.fd, text.data(), text.size(), MSG_NOSIGNAL);
            }
            Drop(d.id);
        }
    }

    int MillisecondsToNextDeadline() const {
        if (deadlines.empty()) {
            return -1;
        }
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(deadlines.front().when - Clock::now());
        return static_cast<int>(std::max<std::int64_t>(0, wait.count()));
    }
};

void BlockStopSignals() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

HttpServer::HttpServer(Handler handler, Logger logger, ServerLimits limits)
    : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    impl_->logger = std::move(logger);
    limits.maxConnections = std::min(limits.maxConnections, ConnectionsAllowedByDescriptors());
    impl_->limits = limits;
}

HttpServer::~HttpServer() = default;

bool HttpServer::Listen(const std::string& host, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        error = "not a numeric address: " + host;
        return false;
    }
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // Address reuse only: another server on the same port must make binding fail.
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const bool bound =
        fd >= 0 && bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!bound) {
        error = std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    impl_->listenFd = fd;
    return true;
}

int HttpServer::Run() {
    Impl& s = *impl_;
    const sigset_t stopSignals = StopSignals();
    const int signalFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    s.Watch(s.listenFd, kListenId, EPOLLIN);
    s.Watch(s.inbox->eventFd, kInboxId, EPOLLIN);
    s.Watch(signalFd, kSignalId, EPOLLIN);
    int received = 0;
    epoll_event events[256];
    while (received == 0) {
        const int n = epoll_wait(s.epollFd, events, 256, s.MillisecondsToNextDeadline());
        for (int i = 0; i < n && received == 0; ++i) {
            const std::uint64_t id = events[i].data.u64;
            if (id == kListenId) {
                s.AcceptAll();
            } else if (id == kInboxId) {
                s.DeliverAnswers();
            } else if (id == kSignalId) {
                signalfd_siginfo info{};
                if (read(signalFd, &info, sizeof info) == sizeof info) {
                    received = static_cast<int>(info.ssi_signo);
                }
            } else {
                s.OnConnectionEvent(id);
            }
        }
        s.ExpireDeadlines();
    }
    close(signalFd);
    return received;
}

}  // namespace service
