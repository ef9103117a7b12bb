// Reading an HTTP/1.x request head: the request line and headers, and a small
// form body on the account page's routes only (every other body is refused
// unread). Bounded: an over-long head is refused, never buffered further. The head is parsed by
// Boost.Beast; what is decided here is what HTTP leaves to the application (Host, versions, the
// request target).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "service/common/percent_decode.h"

namespace service {

inline constexpr std::size_t kMaxHeadBytes = 8192;
inline constexpr std::size_t kMaxHeaderLines = 64;
// Form bodies are taken by POSTs under this path only, up to this size.
inline constexpr const char* kFormPathPrefix = "/account/";
inline constexpr std::size_t kMaxFormBytes = 8192;
inline constexpr std::size_t kMaxRequestBytes = kMaxHeadBytes + kMaxFormBytes;

struct HttpRequest {
    std::string method;
    std::string path;   // percent-decoded
    std::string query;  // as sent, after the '?'
    bool keepAlive = false;
    // The last entry of the last X-Forwarded-For field, as sent, without the
    // blanks around it: the one a load balancer in front added. Nothing
    // without such a field.
    std::optional<std::string> forwardedFor;
    // The Authorization field as sent; empty without one (or with several,
    // which says nothing certain).
    std::string authorization;
    // The Cookie fields, joined by "; "; the Origin field; the Host field;
    // whether the last
    // X-Forwarded-Proto says https; and whether the request came over the
    // service's own TLS (set by the server).
    std::string cookie;
    std::string origin;
    std::string host;
    std::string fetchSite;  // Sec-Fetch-Site
    bool forwardedHttps = false;
    bool tls = false;
    // A form's urlencoded body, as sent.
    std::string body;
};

// What the bytes received so far amount to. Anything but Incomplete and
// Complete is answered with its HTTP status and the connection closed.
enum class HeadResult {
    Incomplete,
    Complete,
    Malformed = 400,
    HasBody = 413,
    LineTooLong = 414,
    NotAForm = 415,
    HeadTooLarge = 431,
    UnsupportedVersion = 505,
};

// Parses the head at the start of received; on Complete, consumed is the
// length of the head and its form body (what follows belongs to the next
// request); a form body not yet all received is Incomplete. Empty lines
// before the request line are skipped. searched is how many bytes of received
// are already known to hold no head's end; on Incomplete, consumed is the new
// figure, so a head arriving a byte at a time is not searched over and over.
HeadResult ParseRequestHead(std::string_view received, HttpRequest& out, std::size_t& consumed,
                            std::size_t searched = 0);

// The decoded value of the first key=value pair of query named key; '+' is a
// space. Empty when the key is absent.
std::string QueryValue(std::string_view query, std::string_view key);

}  // namespace service
