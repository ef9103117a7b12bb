// The floor of the service's figures: the same HTTP server answering every
// request at once with a constant 18-byte reply, no work behind it.
//   bench_floor_service PORT
#include <cstdio>
#include <string>

#include "service/http/server.h"
#include "service/http/stop_signals.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_floor_service PORT\n");
        return 2;
    }
    service::BlockStopSignals();
    service::HttpServer server(
        [](const service::HttpRequest&, const std::string&, service::HttpServer::Reply) {
            return service::HttpResponse::Content("text/plain", "100123.123.123.123");
        },
        [](const std::string&, const service::HttpRequest*, const service::HttpResponse&) {},
        [](const std::string&) {});
    std::string error;
    if (!server.Listen("127.0.0.1", std::stoi(argv[1]), error)) {
        std::fprintf(stderr, "bench_floor_service: %s\n", error.c_str());
        return 1;
    }
    server.Run();
    return 0;
}
