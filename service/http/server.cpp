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

int HttpServer::Port() const {
    ErrorCode error;
    const tcp::endpoint bound = impl_->acceptor.local_endpoint(error);
    return error ? 0 : bound.port();
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
    s.Accept();
    s.io.run();
    return received;
}

}  // namespace service
