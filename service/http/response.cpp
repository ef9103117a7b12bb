#include "service/http/response.h"

namespace service {

namespace {

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 415:
            return "Unsupported Media Type";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Error";
    }
}

}  // namespace

std::string SerializeResponse(const HttpResponse& r, bool withBody, bool keepAlive) {
    std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + Reason(r.status) + "\r\n";
    if (!r.contentType.empty()) {
        out += "Content-Type: " + r.contentType + "\r\n";
    }
    if (!r.allow.empty()) {
        out += "Allow: " + r.allow + "\r\n";
    }
    if (!r.challenge.empty()) {
        out += "WWW-Authenticate: " + r.challenge + "\r\n";
    }
    if (r.noStore) {
        out += "Cache-Control: no-store\r\n";
    }
    for (const auto& [name, value] : r.fields) {
        out += name + ": " + value + "\r\n";
    }
    out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return withBody ? out + r.body : out;
}

}  // namespace service
