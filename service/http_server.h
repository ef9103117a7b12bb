// A small event-driven HTTP/1.x server on Boost.Asio: one thread waits on
// every socket, so slow or idle clients hold nothing but a few hundred bytes
// each. A request's head must arrive within a deadline, connections per
// source address block are capped, the longest-idle connection makes room for
// a new one when all places are taken, bodies are refused unread, and answers
// that take work are given later from other threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "service/http_request.h"

namespace service {

struct HttpResponse {
    int status = 200;
    std::string contentType;  // empty when there is no body
    std::string body;
    std::string allow;  // the Allow header of a 405

    static HttpResponse Status(int status) { return {status, {}, {}, {}}; }
    static HttpResponse Content(std::string type, std::string body) {
        return {200, std::move(type), std::move(body), {}};
    }
    static HttpResponse NotAllowed(std::string allow) { return {405, {}, {}, std::move(allow)}; }
};

struct ServerLimits {
    // Time for a request's head to arrive (counted from the connection or the
    // previous reply), and for a reply to be taken by the client.
    std::chrono::milliseconds deadline{10000};
    int maxConnectionsPerAddress = 128;  // per IPv4 address or IPv6 /64
    int maxConnections = 65536;          // also bounded by the process's descriptor limit
};

// Blocks SIGTERM and SIGINT in the calling thread and the threads it starts
// afterwards, so that only HttpServer::Run hears them. Call before any thread
// starts.
void BlockStopSignals();

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

    // Told what the server itself has to say (running out of descriptors).
    using Notice = std::function<void(const std::string& line)>;

    HttpServer(Handler handler, Logger logger, Notice notice, ServerLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds host:port; false with error set.
    bool Listen(const std::string& host, int port, std::string& error);
    // Serves until SIGTERM or SIGINT, which the caller must have blocked in
    // every thread (BlockStopSignals); drops the connections still open and
    // returns the signal.
    int Run();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace service
