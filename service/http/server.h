// A small event-driven HTTP/1.x server on Boost.Asio, plain or over TLS
// (OpenSSL): one thread waits on every socket, so slow or idle clients hold nothing but a few
// hundred bytes each. A request's head must arrive within a deadline, connections per source
// address block are capped, the longest-idle connection makes room for a new one when all places
// are taken, bodies are refused unread, and answers that take work are given later from other
// threads.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "service/common/log_line.h"
#include "service/http/request_head.h"
#include "service/http/response.h"

namespace service {

struct ServerLimits {
    // Time for a request's head to arrive (counted from the connection or the
    // previous reply), and for a reply to be taken by the client.
    std::chrono::milliseconds deadline{10000};
    int maxConnectionsPerAddress = 128;  // per IPv4 address or IPv6 /64
    int maxConnections = 65536;          // also bounded by the process's descriptor limit
};

class HttpServer {
public:
    // Gives an answer later, from any thread, exactly once (the connection is
    // kept until then, and the answer logged even when its client has gone);
    // tells whether the client has gone meanwhile, so work for it can be
    // skipped.
    struct Reply {
        std::function<void(HttpResponse)> give;
        std::shared_ptr<const std::atomic<bool>> gone;

        void operator()(HttpResponse response) const { give(std::move(response)); }
        bool ClientGone() const { return gone && gone->load(std::memory_order_relaxed); }
    };
    // Answers now, or returns nothing and calls reply later.
    using Handler = std::function<std::optional<HttpResponse>(
        const HttpRequest& request, const std::string& peer, Reply reply)>;
    // Told each answer; request is null when the request could not be read.
    using Logger = std::function<void(const std::string& peer, const HttpRequest* request,
                                      const HttpResponse& response)>;

    // notice is told what the server itself has to say (running out of
    // descriptors).
    HttpServer(Handler handler, Logger logger, LineSink notice, ServerLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Loads the certificate chain and key that TLS listeners give new
    // connections from now on (again after a renewal: open connections keep
    // theirs); false with error set, the pair loaded before still in use.
    bool LoadTls(const std::string& certFile, const std::string& keyFile, std::string& error);
    // Binds host:port, speaking TLS there when tls is true (once LoadTls has
    // worked); false with error set. May be called for several listeners.
    bool Listen(const std::string& host, int port, std::string& error, bool tls = false);
    // The port of the first listener of the kind (useful after binding port
    // 0); 0 without one.
    int Port(bool tls = false) const;
    // Serves until SIGTERM or SIGINT, which the caller must have blocked in
    // every thread (BlockStopSignals); drops the connections still open and
    // returns the signal. Each SIGHUP runs hangUp on the serving thread.
    int Run(const std::function<void()>& hangUp = {});

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace service
