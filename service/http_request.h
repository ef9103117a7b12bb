// Reading an HTTP/1.x request head: the request line and headers only, since
// the service never needs a body. Bounded: an over-long head is refused, never
// buffered further.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace service {

inline constexpr std::size_t kMaxHeadBytes = 8192;
inline constexpr std::size_t kMaxHeaderLines = 64;

struct HttpRequest {
    std::string method;
    std::string path;   // percent-decoded
    std::string query;  // as sent, after the '?'
    bool keepAlive = false;
};

// What the bytes received so far amount to. Anything but Incomplete and
// Complete is answered with its HTTP status and the connection closed.
enum class HeadResult {
    Incomplete,
    Complete,
    Malformed = 400,
    HasBody = 413,
    LineTooLong = 414,
    HeadTooLarge = 431,
    UnsupportedVersion = 505,
};

// Parses the head at the start of received; on Complete, consumed is the
// length of the head (what follows belongs to the next request).
HeadResult ParseRequestHead(std::string_view received, HttpRequest& out, std::size_t& consumed);

// The decoded value of the first key=value pair of query named key; '+' is a
// space. Empty when the key is absent.
std::string QueryValue(std::string_view query, std::string_view key);

// %XX sequences decoded; with plusIsSpace, '+' is a space as in a form.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

}  // namespace service
