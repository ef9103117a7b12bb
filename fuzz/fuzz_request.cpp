// The service's request head reader on any bytes (the library's parser and
// what the service decides around it: empty lines before a request, versions,
// Host, the target's form): never reads past what it was given, never waits
// for more than one head's worth, and a head it takes is a request line with
// a path, whose query values decode to no more bytes than they were sent with.
#include <cstdint>
#include <string_view>

#include "service/http/request_head.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    service::HttpRequest request;
    std::size_t consumed = 0;
    switch (service::ParseRequestHead(received, request, consumed)) {
        case service::HeadResult::Incomplete:
            if (size >= service::kMaxHeadBytes) {
                __builtin_trap();
            }
            break;
        case service::HeadResult::Complete:
            if (consumed == 0 || consumed > size || consumed > service::kMaxHeadBytes ||
                request.method.empty() || request.path.empty() || request.path.front() != '/' ||
                service::QueryValue(request.query, "login").size() > request.query.size()) {
                __builtin_trap();
            }
            break;
        default:
            break;
    }
    return 0;
}
