// Admission: accepting connections, the caps per address block and in all,
// making room by the longest idle, and pausing while descriptors run out.
#include <algorithm>

#include "service/common/address.h"
#include "service/common/log_line.h"
#include "service/http/descriptors.h"
#include "service/http/server_impl.h"

namespace service {

namespace {

// An IPv4 client of a socket listening on [::] arrives as ::ffff:a.b.c.d; it is
// told and recorded as the IPv4 address it is.
std::string PeerText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

}  // namespace

void HttpServer::Impl::Accept(Listener& listener) {
    listener.accepting = true;
    listener.acceptor.async_accept([this, &listener](const ErrorCode& error, tcp::socket socket) {
        listener.accepting = false;
        if (error == asio::error::operation_aborted) {
            return;
        }
        if (OutOfDescriptors(error)) {
            WaitForADescriptor(error);
            return;
        }
        if (!error) {
            Admit(std::move(socket), listener.tls);
        }
        Accept(listener);
    });
}

void HttpServer::Impl::WaitForADescriptor(const ErrorCode& error) {
    const auto now = Clock::now();
    if (!toldOutOfDescriptors || now - *toldOutOfDescriptors >= std::chrono::minutes(1)) {
        toldOutOfDescriptors = now;
        notice(ServiceLine("cannot accept connections (" + error.message() +
                           "); new ones wait until a connection closes"));
    }
    acceptRetry.expires_after(std::chrono::seconds(1));
    acceptRetry.async_wait([this](const ErrorCode&) { AcceptAgain(); });
}

void HttpServer::Impl::AcceptAgain() {
    for (const auto& listener : listeners) {
        if (!listener->accepting && listener->acceptor.is_open()) {
            Accept(*listener);
        }
    }
}

void HttpServer::Impl::Admit(tcp::socket socket, bool tls) {
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
    if (tls) {
        c->tls = std::make_unique<TlsSession>(tlsContext, c->socket.native_handle());
    }
    c->peer = std::move(peer);
    c->block = std::move(block);
    connections.emplace(id, c);
    SetDeadline(*c);  // the TLS handshake, part of the first reads, counts as the head's
    if (c->tls && !c->tls->Usable()) {
        Drop(*c);
        return;
    }
    ReadMore(c);
}

bool HttpServer::Impl::EvictLongestIdle() {
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

void HttpServer::Impl::Drop(Connection& c) {
    if (c.phase == Phase::Closed) {
        return;
    }
    const bool answerPending = c.phase == Phase::Answering;
    c.phase = Phase::Closed;
    ++c.turn;
    c.tls.reset();
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
    if (std::any_of(listeners.begin(), listeners.end(),
                    [](const auto& listener) { return !listener->accepting; })) {
        acceptRetry.cancel();  // a descriptor is free again
    }
}

}  // namespace service
