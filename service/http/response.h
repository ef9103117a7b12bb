// An HTTP answer as the service's routes give it, and its bytes on the wire.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace service {

struct HttpResponse {
    int status = 200;
    std::string contentType;  // empty when there is no body
    std::string body;
    std::string allow;        // the Allow header of a 405
    bool noStore = false;     // an answer no cache may keep: it differs per client
    std::string challenge{};  // the WWW-Authenticate header of a 401
    // Any other fields, each as name and value.
    std::vector<std::pair<std::string, std::string>> fields{};

    static HttpResponse Status(int status) { return {status, {}, {}, {}}; }
    static HttpResponse Content(std::string type, std::string body) {
        return {200, std::move(type), std::move(body), {}, false};
    }
    static HttpResponse Text(int status, std::string body) {
        return {status, "text/plain", std::move(body), {}, false};
    }
    static HttpResponse NotAllowed(std::string allow) {
        return {405, {}, {}, std::move(allow), false};
    }
};

// The response as HTTP/1.1 sends it: status line, headers (Content-Length
// always, Connection as keepAlive says), then the body unless withBody is
// false (an answer to HEAD, or one sent as the connection closes).
std::string SerializeResponse(const HttpResponse& response, bool withBody, bool keepAlive);

}  // namespace service
