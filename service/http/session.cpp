// One connection: reading request heads, handing them to the handler,
// watching for a client that leaves while its answer is worked out, and
// writing answers.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "service/http/server_impl.h"

namespace service {

namespace {

tcp::socket::wait_type Direction(const IoResult& r) {
    return r.state == IoResult::State::WaitWrite ? tcp::socket::wait_write : tcp::socket::wait_read;
}

// A plain socket's read or write as an IoResult.
IoResult PlainOutcome(std::size_t bytes, const ErrorCode& error, IoResult::State wait) {
    if (error == asio::error::would_block) {
        return {0, wait};
    }
    return {bytes, error ? IoResult::State::Failed : IoResult::State::Done};
}

}  // namespace

IoResult HttpServer::Impl::ReadSome(Connection& c, std::size_t room) {
    if (c.tls) {
        return c.tls->Read(readBuffer, room);
    }
    ErrorCode error;
    const std::size_t n = c.socket.read_some(asio::buffer(readBuffer, room), error);
    return PlainOutcome(n, error, IoResult::State::WaitRead);
}

IoResult HttpServer::Impl::WriteSome(Connection& c) {
    const char* data = c.out.data() + c.sent;
    const std::size_t size = c.out.size() - c.sent;
    if (c.tls) {
        return c.tls->Write(data, size);
    }
    ErrorCode error;
    const std::size_t n = c.socket.write_some(asio::buffer(data, size), error);
    return PlainOutcome(n, error, IoResult::State::WaitWrite);
}

template <typename Next>
void HttpServer::Impl::WaitFor(const ConnectionPtr& c, tcp::socket::wait_type what, Next next) {
    c->socket.async_wait(what, [c, turn = c->turn, next](const ErrorCode& error) {
        if (!error && c->turn == turn) {
            next(c);
        }
    });
}

// Reads until a request is complete; whoever then moves the connection on
// (its answer, or the wait for it) carries on from there.
void HttpServer::Impl::ReadMore(const ConnectionPtr& c) {
    const std::uint64_t turn = c->turn;
    while (c->phase == Phase::Reading && c->turn == turn) {
        const std::size_t room = kMaxRequestBytes - std::min(c->in.size(), kMaxRequestBytes - 1);
        const IoResult read = ReadSome(*c, room);
        if (read.state == IoResult::State::Failed) {
            Drop(*c);
            return;
        }
        if (read.state != IoResult::State::Done) {
            WaitFor(c, Direction(read), [this](const ConnectionPtr& c) { ReadMore(c); });
            return;
        }
        c->in.append(readBuffer, read.bytes);
        TakeRequest(c);
    }
}

void HttpServer::Impl::TakeRequest(const ConnectionPtr& c) {
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
    request.tls = c->tls != nullptr;
    c->request = std::move(request);
    c->phase = Phase::Answering;
    ++c->turn;
    c->gone = std::make_shared<std::atomic<bool>>(false);
    Reply later{
        [mailbox = std::weak_ptr<Mailbox>(mailbox), id = c->id, this](HttpResponse response) {
            if (auto box = mailbox.lock()) {
                box->Post([this, id, response = std::move(response)] { Deliver(id, response); });
            }
        },
        c->gone};
    if (std::optional<HttpResponse> now = handler(c->request, c->peer, std::move(later))) {
        Answer(c, &c->request, *now);
    } else {
        WatchForLeaving(c);
    }
}

// The client shut its side or reset the connection, even with requests of
// its still unread: a guessing flood that closes leaves no work behind.
bool HttpServer::Impl::PeerHasLeft(Connection& c) {
    pollfd state{c.socket.native_handle(), POLLRDHUP, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void HttpServer::Impl::WatchForLeaving(const ConnectionPtr& c) {
    char byte;
    const ssize_t n = recv(c->socket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        WaitFor(c, tcp::socket::wait_read, [this](const ConnectionPtr& c) { WatchForLeaving(c); });
    } else if (n <= 0) {
        Drop(*c);
    }
}

void HttpServer::Impl::Deliver(std::uint64_t id, const HttpResponse& response) {
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

void HttpServer::Impl::Answer(const ConnectionPtr& c, const HttpRequest* request,
                              const HttpResponse& response) {
    logger(c->peer, request, response);
    c->closeAfterReply = request == nullptr || !request->keepAlive;
    c->out = SerializeResponse(response, request == nullptr || request->method != "HEAD",
                               !c->closeAfterReply);
    c->sent = 0;
    c->phase = Phase::Writing;
    ++c->turn;
    Write(c);
}

void HttpServer::Impl::Write(const ConnectionPtr& c) {
    while (c->sent < c->out.size()) {
        const IoResult written = WriteSome(*c);
        if (written.state == IoResult::State::Failed) {
            Drop(*c);
            return;
        }
        if (written.state != IoResult::State::Done) {
            SetDeadline(*c);  // for a client that does not take its reply
            WaitFor(c, Direction(written), [this](const ConnectionPtr& c) { Write(c); });
            return;
        }
        c->sent += written.bytes;
    }
    if (c->closeAfterReply) {
        Drop(*c);
        return;
    }
    if (PeerHasLeft(*c)) {
        Drop(*c);  // what it sent before leaving is nobody's to answer
        return;
    }
    c->out = std::string();  // an idle connection holds no buffer
    c->phase = Phase::Reading;
    ++c->turn;
    SetDeadline(*c);
    // A request may already be waiting behind this one. It is taken at the
    // loop's next turn, not here: a client that pipelines requests answered
    // at once must neither nest calls without end nor keep others waiting.
    asio::post(io, [this, c, turn = c->turn] {
        if (c->phase == Phase::Reading && c->turn == turn) {
            TakeRequest(c);
            ReadMore(c);
        }
    });
}

}  // namespace service
