#include "service/http_server.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "service/address_block.h"

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

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

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
std::string PeerText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
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

// Where answers worked out by other threads are handed to the serving thread.
// Shared with every pending Reply, so a late answer after the server is gone
// is dropped.
class Mailbox {
public:
    explicit Mailbox(asio::io_context& io) : io_(&io) {}
    template <typename Job>
    void Post(Job job) {
        std::lock_guard lock(mutex_);
        if (io_ != nullptr) {
            asio::post(*io_, std::move(job));
        }
    }
    void Close() {
        std::lock_guard lock(mutex_);
        io_ = nullptr;
    }

private:
    std::mutex mutex_;
    asio::io_context* io_;
};

enum class Phase { Reading, Answering, Writing, Closed };

struct Connection {
    Connection(tcp::socket s, std::uint64_t i) : socket(std::move(s)), id(i) {}

    tcp::socket socket;
    std::uint64_t id;
    std::string peer;
    std::string block;  // what the per-address cap counts
    Phase phase = Phase::Reading;
    // Stamps every change of phase: a wait started in an earlier one is stale.
    std::uint64_t turn = 0;
    std::string in;
    std::size_t searched = 0;  // bytes of in known to hold no head's end
    std::string out;
    std::size_t sent = 0;
    HttpRequest request;  // the one being answered
    std::shared_ptr<std::atomic<bool>> gone;
    bool closeAfterReply = false;
    std::uint64_t deadlineSerial = 0;
};
using ConnectionPtr = std::shared_ptr<Connection>;

struct Deadline {
    Clock::time_point when;
    std::uint64_t id;
    std::uint64_t serial;
};

bool OutOfDescriptors(const ErrorCode& error) {
    return error == asio::error::no_descriptors || error.value() == ENFILE ||
           error == asio::error::no_buffer_space || error == asio::error::no_memory;
}

}  // namespace

struct HttpServer::Impl {
    Handler handler;
    Logger logger;
    Notice notice;
    ServerLimits limits;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer deadlineTimer{io};
    bool deadlineTimerSet = false;
    asio::steady_timer acceptRetry{io};
    bool accepting = false;  // an accept is pending; not while out of descriptors
    std::optional<Clock::time_point> toldOutOfDescriptors;
    std::shared_ptr<Mailbox> mailbox = std::make_shared<Mailbox>(io);
    std::unordered_map<std::uint64_t, ConnectionPtr> connections;
    int open = 0;  // connections not yet closed
    std::unordered_map<std::string, int> perBlock;
    // Every deadline is the same span from the moment it is set, so this is
    // ordered by time; a connection's older entries are skipped by serial.
    // The oldest live entry of a reading connection is the longest idle.
    std::deque<Deadline> deadlines;
    std::uint64_t nextId = 1;
    char readBuffer[kMaxHeadBytes];

    ~Impl() {
        mailbox->Close();
        for (auto& [id, c] : connections) {
            c->phase = Phase::Closed;
        }
    }

    void SetDeadline(Connection& c) {
        deadlines.push_back({Clock::now() + limits.deadline, c.id, ++c.deadlineSerial});
        ArmDeadlineTimer();
    }

    void ArmDeadlineTimer() {
        if (deadlineTimerSet || deadlines.empty()) {
            return;
        }
        deadlineTimerSet = true;
        deadlineTimer.expires_at(deadlines.front().when);
        deadlineTimer.async_wait([this](const ErrorCode& error) {
            deadlineTimerSet = false;
            if (!error) {
                ExpireDeadlines();
                ArmDeadlineTimer();
            }
        });
    }

    // The connection a deadline entry stands for, while the entry is its latest.
    Connection* Live(const Deadline& d) {
        auto it = connections.find(d.id);
        return it != connections.end() && it->second->deadlineSerial == d.serial ? it->second.get()
                                                                                 : nullptr;
    }

    // Closes a connection. One whose answer is still being worked out is kept
    // until the answer comes, which is then logged.
    void Drop(Connection& c) {
        if (c.phase == Phase::Closed) {
            return;
        }
        const bool answerPending = c.phase == Phase::Answering;
        c.phase = Phase::Closed;
        ++c.turn;
        ErrorCode ignored;
        c.socket.close(ignored);
        if (c.gone) {
            c.gone->store(true, std::memory_order_relaxed);
        }
        if (--perBlock[c.block] == 0) {
            perBlock.erase(c.block);
        }
        --open;
        if (!answerPending) {
            const ConnectionPtr keep = connections.at(c.id);  // c lives to the end of this call
            connections.erase(c.id);
        }
        if (!accepting) {
            acceptRetry.cancel();  // a descriptor is free again
        }
    }

    // Makes room at the cap by closing the connection that has waited longest
    // for a request; false when every connection is busy.
    bool EvictLongestIdle() {
        while (!deadlines.empty() && Live(deadlines.front()) == nullptr) {
            deadlines.pop_front();
        }
        for (const Deadline& d : deadlines) {
            Connection* c = Live(d);
            if (c != nullptr && c->phase == Phase::Reading) {
                Drop(*c);
                return true;
            }
        }
        return false;
    }

    void Accept() {
        accepting = true;
        acceptor.async_accept([this](const ErrorCode& error, tcp::socket socket) {
            accepting = false;
            if (error == asio::error::operation_aborted) {
                return;
            }
            if (OutOfDescriptors(error)) {
                WaitForADescriptor(error);
                return;
            }
            if (!error) {
                Admit(std::move(socket));
            }
            Accept();
        });
    }

    // Accepting stops until a connection closes (or a second passes, for a
    // descriptor freed elsewhere), so a full table costs no busy loop.
    void WaitForADescriptor(const ErrorCode& error) {
        const auto now = Clock::now();
        if (!toldOutOfDescriptors || now - *toldOutOfDescriptors >= std::chrono::minutes(1)) {
            toldOutOfDescriptors = now;
            notice("kestrome-service: cannot accept connections (" + error.message() +
                   "); new ones wait until a connection closes\n");
        }
        acceptRetry.expires_after(std::chrono::seconds(1));
        acceptRetry.async_wait([this](const ErrorCode&) {
            if (!accepting && acceptor.is_open()) {
                Accept();
            }
        });
    }

    void Admit(tcp::socket socket) {
        ErrorCode error;
        const tcp::endpoint remote = socket.remote_endpoint(error);
        if (error) {
            return;
        }
        std::string peer = PeerText(remote.address());
        std::string block = AddressBlock(peer);
        if (perBlock.contains(block) && perBlock[block] >= limits.maxConnectionsPerAddress) {
            return;  // refused at once, so it holds no place
        }
        if (open >= limits.maxConnections && !EvictLongestIdle()) {
            return;
        }
        ++perBlock[block];
        ++open;
        socket.set_option(tcp::no_delay(true), error);
        socket.non_blocking(true, error);
        const std::uint64_t id = nextId++;
        auto c = std::make_shared<Connection>(std::move(socket), id);
        c->peer = std::move(peer);
        c->block = std::move(block);
        connections.emplace(id, c);
        SetDeadline(*c);
        ReadMore(c);
    }

    // Waits for the socket to be ready, then goes on with next, unless the
    // connection has moved on meanwhile.
    template <typename Next>
    void WaitFor(const ConnectionPtr& c, tcp::socket::wait_type what, Next next) {
        c->socket.async_wait(what, [c, turn = c->turn, next](const ErrorCode& error) {
            if (!error && c->turn == turn) {
                next(c);
            }
        });
    }

    // Reads what has arrived until a request is complete. Never more than one
    // head's worth is held: the parser refuses beyond that.
    void ReadMore(const ConnectionPtr& c) {
        while (c->phase == Phase::Reading) {
            ErrorCode error;
            const std::size_t room = kMaxHeadBytes - std::min(c->in.size(), kMaxHeadBytes - 1);
            const std::size_t n = c->socket.read_some(asio::buffer(readBuffer, room), error);
            if (error == asio::error::would_block) {
                WaitFor(c, tcp::socket::wait_read, [this](const ConnectionPtr& c) { ReadMore(c); });
                return;
            }
            if (error) {
                Drop(*c);
                return;
            }
            c->in.append(readBuffer, n);
            TakeRequest(c);
        }
    }

    // Takes the next request from what has arrived, if it is complete.
    void TakeRequest(const ConnectionPtr& c) {
        HttpRequest request;
        std::size_t consumed = 0;
        const HeadResult result = ParseRequestHead(c->in, request, consumed, c->searched);
        if (result == HeadResult::Incomplete) {
            c->searched = consumed;
            return;
        }
        c->searched = 0;
        if (result != HeadResult::Complete) {
            c->in.clear();
            Answer(c, nullptr, HttpResponse::Status(static_cast<int>(result)));
            return;
        }
        c->in.erase(0, consumed);
        c->request = std::move(request);
        c->phase = Phase::Answering;
        ++c->turn;
        c->gone = std::make_shared<std::atomic<bool>>(false);
        Reply later{
            [mailbox = std::weak_ptr<Mailbox>(mailbox), id = c->id, this](HttpResponse response) {
                if (auto box = mailbox.lock()) {
                    box->Post(
                        [this, id, response = std::move(response)] { Deliver(id, response); });
                }
            },
            c->gone};
        if (std::optional<HttpResponse> now = handler(c->request, c->peer, std::move(later))) {
            Answer(c, &c->request, *now);
        } else {
            WatchForLeaving(c);
        }
    }

    // A client that closes its connection while its answer is worked out is
    // gone: its connection is closed at once and work not yet started for it
    // is skipped. A pipelined request ends the watch; it waits its turn.
    void WatchForLeaving(const ConnectionPtr& c) {
        char byte;
        const ssize_t n = recv(c->socket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            WaitFor(c, tcp::socket::wait_read,
                    [this](const ConnectionPtr& c) { WatchForLeaving(c); });
        } else if (n <= 0) {
            Drop(*c);
        }
    }

    // An answer from another thread; one for a client that has gone is
    // still logged.
    void Deliver(std::uint64_t id, const HttpResponse& response) {
        auto it = connections.find(id);
        if (it == connections.end()) {
            return;
        }
        const ConnectionPtr c = it->second;
        if (c->phase == Phase::Answering) {
            Answer(c, &c->request, response);
        } else if (c->phase == Phase::Closed) {
            logger(c->peer, &c->request, response);
            connections.erase(id);
        }
    }

    // Logs and sends an answer; a null request is one that could not be read,
    // after which the connection is closed.
    void Answer(const ConnectionPtr& c, const HttpRequest* request, const HttpResponse& response) {
        logger(c->peer, request, response);
        c->closeAfterReply = request == nullptr || !request->keepAlive;
        c->out = Serialize(response, request == nullptr || request->method != "HEAD",
                           !c->closeAfterReply);
        c->sent = 0;
        c->phase = Phase::Writing;
        ++c->turn;
        Write(c);
    }

    void Write(const ConnectionPtr& c) {
        while (c->sent < c->out.size()) {
            ErrorCode error;
            c->sent += c->socket.write_some(
                asio::buffer(c->out.data() + c->sent, c->out.size() - c->sent), error);
            if (error == asio::error::would_block) {
                SetDeadline(*c);  // for a client that does not take its reply
                WaitFor(c, tcp::socket::wait_write, [this](const ConnectionPtr& c) { Write(c); });
                return;
            }
            if (error) {
                Drop(*c);
                return;
            }
        }
        if (c->closeAfterReply) {
            Drop(*c);
            return;
        }
        c->out = std::string();  // an idle connection holds no buffer
        c->phase = Phase::Reading;
        ++c->turn;
        SetDeadline(*c);
        TakeRequest(c);  // a request may already be waiting behind this one
        ReadMore(c);
    }

    // A head that did not arrive in time is answered 408 and logged when part
    // of it came; an idle connection is simply closed. So is a client that
    // does not take its reply.
    void ExpireDeadlines() {
        const auto now = Clock::now();
        while (!deadlines.empty() && deadlines.front().when <= now) {
            const Deadline d = deadlines.front();
            deadlines.pop_front();
            Connection* c = Live(d);
            if (c == nullptr || c->phase == Phase::Answering || c->phase == Phase::Closed) {
                continue;
            }
            if (c->phase == Phase::Reading && !c->in.empty()) {
                const HttpResponse timeout = HttpResponse::Status(408);
                logger(c->peer, nullptr, timeout);
                const std::string text = Serialize(timeout, false, false);
                [[maybe_unused]] ssize_t n =
                    send(c->socket.native_handle(), text.data(), text.size(), MSG_NOSIGNAL);
            }
            Drop(*c);
        }
    }
};

void BlockStopSignals() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

HttpServer::HttpServer(Handler handler, Logger logger, Notice notice, ServerLimits limits)
    : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    impl_->logger = std::move(logger);
    impl_->notice = std::move(notice);
    limits.maxConnections = std::min(limits.maxConnections, ConnectionsAllowedByDescriptors());
    impl_->limits = limits;
}

HttpServer::~HttpServer() = default;

bool HttpServer::Listen(const std::string& host, int port, std::string& error) {
    ErrorCode failure;
    const asio::ip::address address = asio::ip::make_address(host, failure);
    if (failure) {
        error = "not a numeric address: " + host;
        return false;
    }
    tcp::acceptor& acceptor = impl_->acceptor;
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    // Address reuse only: another server on the same port must make binding fail.
    if (acceptor.open(endpoint.protocol(), failure) ||
        acceptor.set_option(tcp::acceptor::reuse_address(true), failure) ||
        acceptor.bind(endpoint, failure) ||
        acceptor.listen(asio::socket_base::max_listen_connections, failure)) {
        error = failure.message();
        ErrorCode ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

int HttpServer::Run() {
    Impl& s = *impl_;
    const sigset_t stopSignals = StopSignals();
    asio::posix::stream_descriptor signals(s.io,
                                           signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC));
    int received = 0;
    std::function<void()> listen = [&] {
        signalfd_siginfo info{};
        if (read(signals.native_handle(), &info, sizeof info) == sizeof info) {
            received = static_cast<int>(info.ssi_signo);
            s.io.stop();
            return;
        }
        signals.async_wait(asio::posix::stream_descriptor::wait_read, [&](const ErrorCode& error) {
            if (!error) {
                listen();
            }
        });
    };
    listen();
    s.Accept();
    s.io.run();
    return received;
}

}  // namespace service
