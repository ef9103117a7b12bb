#include "service/http/server.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/posix/stream_descriptor.hpp>

#include "service/http/descriptors.h"
#include "service/http/server_impl.h"
#include "service/http/stop_signals.h"

namespace service {

HttpServer::Impl::~Impl() {
    mailbox->Close();
    for (auto& [id, c] : connections) {
        c->phase = Phase::Closed;
    }
}

HttpServer::HttpServer(Handler handler, Logger logger, LineSink notice, ServerLimits limits)
    : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    impl_->logger = std::move(logger);
    impl_->notice = std::move(notice);
    limits.maxConnections = std::min(limits.maxConnections, ConnectionsAllowedByDescriptors());
    impl_->limits = limits;
}

HttpServer::~HttpServer() = default;

bool HttpServer::LoadTls(const std::string& certFile, const std::string& keyFile,
                         std::string& error) {
    std::shared_ptr<ssl_ctx_st> context = LoadTlsContext(certFile, keyFile, error);
    if (!context) {
        return false;
    }
    impl_->tlsContext = std::move(context);
    return true;
}

bool HttpServer::Listen(const std::string& host, int port, std::string& error, bool tls) {
    ErrorCode failure;
    const asio::ip::address address = asio::ip::make_address(host, failure);
    if (failure) {
        error = "not a numeric address: " + host;
        return false;
    }
    if (tls && !impl_->tlsContext) {
        error = "no TLS certificate is loaded";
        return false;
    }
    auto listener = std::make_unique<Listener>(impl_->io, tls);
    tcp::acceptor& acceptor = listener->acceptor;
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    // Address reuse only: another server on the same port must make binding fail.
    if (acceptor.open(endpoint.protocol(), failure) ||
        acceptor.set_option(tcp::acceptor::reuse_address(true), failure) ||
        acceptor.bind(endpoint, failure) ||
        acceptor.listen(asio::socket_base::max_listen_connections, failure)) {
        error = failure.message();
        return false;
    }
    impl_->listeners.push_back(std::move(listener));
    return true;
}

int HttpServer::Port(bool tls) const {
    for (const auto& listener : impl_->listeners) {
        ErrorCode error;
        const tcp::endpoint bound = listener->acceptor.local_endpoint(error);
        if (listener->tls == tls && !error) {
            return bound.port();
        }
    }
    return 0;
}

int HttpServer::Run(const std::function<void()>& hangUp) {
    Impl& s = *impl_;
    const sigset_t stopSignals = StopSignals();
    asio::posix::stream_descriptor signals(s.io,
                                           signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC));
    int received = 0;
    std::function<void()> listen = [&] {
        signalfd_siginfo info{};
        while (read(signals.native_handle(), &info, sizeof info) == sizeof info) {
            if (info.ssi_signo != SIGHUP) {
                received = static_cast<int>(info.ssi_signo);
                s.io.stop();
                return;
            }
            if (hangUp) {
                hangUp();
            }
        }
        signals.async_wait(asio::posix::stream_descriptor::wait_read, [&](const ErrorCode& error) {
            if (!error) {
                listen();
            }
        });
    };
    listen();
    s.AcceptAgain();
    s.io.run();
    return received;
}

}  // namespace service
