// The server's insides, shared by the files that each take one seam of it:
// admission (listener.cpp: accepting, the caps, making room), one
// connection's reading and writing (session.cpp), and the deadlines
// (deadlines.cpp). Everything here runs on the serving thread, except
// Mailbox::Post.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/http/server.h"
#include "service/http/tls.h"

namespace service {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Clock = std::chrono::steady_clock;

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
    std::unique_ptr<TlsSession> tls;  // on a TLS listener's connections
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

// A socket the server accepts connections on.
struct Listener {
    explicit Listener(asio::io_context& io, bool t) : acceptor(io), tls(t) {}
    tcp::acceptor acceptor;
    bool tls;
    bool accepting = false;  // an accept is pending; not while out of descriptors
};

struct HttpServer::Impl {
    Handler handler;
    Logger logger;
    LineSink notice;
    ServerLimits limits;
    asio::io_context io{1};
    std::vector<std::unique_ptr<Listener>> listeners;
    // What new connections of TLS listeners use; a session keeps its own.
    std::shared_ptr<ssl_ctx_st> tlsContext;
    asio::steady_timer deadlineTimer{io};
    bool deadlineTimerSet = false;
    asio::steady_timer acceptRetry{io};
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
    char readBuffer[kMaxRequestBytes];

    ~Impl();

    // Admission (listener.cpp).
    void Accept(Listener& listener);
    // Accepting stops until a connection closes (or a second passes, for a
    // descriptor freed elsewhere), so a full table costs no busy loop.
    void WaitForADescriptor(const ErrorCode& error);
    void AcceptAgain();
    void Admit(tcp::socket socket, bool tls);
    // Makes room at the cap by closing the connection that has waited longest
    // for a request; false when every connection is busy.
    bool EvictLongestIdle();
    // Closes a connection. One whose answer is still being worked out is kept
    // until the answer comes, which is then logged.
    void Drop(Connection& c);

    // One connection (session.cpp).
    // Waits for the socket to be ready, then goes on with next, unless the
    // connection has moved on meanwhile.
    template <typename Next>
    void WaitFor(const ConnectionPtr& c, tcp::socket::wait_type what, Next next);
    // Reads what has arrived until a request is complete. Never more than one
    // head's worth is held: the parser refuses beyond that.
    void ReadMore(const ConnectionPtr& c);
    // Takes the next request from what has arrived, if it is complete.
    void TakeRequest(const ConnectionPtr& c);
    // A client that closes its connection while its answer is worked out is
    // gone: its connection is closed at once and work not yet started for it
    // is skipped. A pipelined request ends the watch; it waits its turn.
    void WatchForLeaving(const ConnectionPtr& c);
    static bool PeerHasLeft(Connection& c);
    // An answer from another thread; one for a client that has gone is
    // still logged.
    void Deliver(std::uint64_t id, const HttpResponse& response);
    // Logs and sends an answer; a null request is one that could not be read,
    // after which the connection is closed.
    void Answer(const ConnectionPtr& c, const HttpRequest* request, const HttpResponse& response);
    void Write(const ConnectionPtr& c);
    // One read or write, through TLS on a TLS connection.
    IoResult ReadSome(Connection& c, std::size_t room);
    static IoResult WriteSome(Connection& c);

    // Deadlines (deadlines.cpp).
    void SetDeadline(Connection& c);
    void ArmDeadlineTimer();
    // The connection a deadline entry stands for, while the entry is its latest.
    Connection* Live(const Deadline& d);
    // A head that did not arrive in time is answered 408 and logged when part
    // of it came; an idle connection is simply closed. So is a client that
    // does not take its reply.
    void ExpireDeadlines();
};

}  // namespace service
