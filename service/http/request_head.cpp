#include "service/http/request_head.h"

#include <algorithm>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <iterator>
#include <limits>

namespace service {

namespace {

namespace http = boost::beast::http;

std::string_view Std(boost::beast::string_view text) {
    return {text.data(), text.size()};
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

// The bytes of empty lines before the request line, which are ignored.
std::size_t LeadingEmptyLines(std::string_view received) {
    std::size_t at = 0;
    while (at < received.size() &&
           (received[at] == '\n' || (received[at] == '\r' && received.substr(at + 1, 1) == "\n"))) {
        at += received[at] == '\r' ? 2 : 1;
    }
    return at;
}

// The end of the head (just after its empty line), or npos while incomplete.
// The search starts a little before from, so an end split across two arrivals
// is found.
std::size_t HeadEnd(std::string_view head, std::size_t from) {
    for (std::size_t at = from > 2 ? from - 2 : 0;
         (at = head.find('\n', at)) != std::string_view::npos; ++at) {
        if (head.substr(at + 1, 1) == "\n") {
            return at + 2;
        }
        if (head.substr(at + 1, 2) == "\r\n") {
            return at + 3;
        }
    }
    return std::string_view::npos;
}

// Any HTTP/1.x is answered as HTTP/1.1, which the parser only knows by that
// name; another major version is not served. Other faults of the request line
// are left to the parser.
HeadResult CheckVersion(std::string& head) {
    const std::size_t lineEnd = head.find('\r');
    const std::size_t space = head.rfind(' ', lineEnd);
    if (lineEnd == std::string::npos || space == std::string::npos || lineEnd - space != 9) {
        return HeadResult::Complete;
    }
    std::string_view version = std::string_view(head).substr(space + 1, 8);
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!version.starts_with("HTTP/") || !digit(version[5]) || version[6] != '.' ||
        !digit(version[7])) {
        return HeadResult::Complete;
    }
    if (version[5] != '1') {
        return HeadResult::UnsupportedVersion;
    }
    if (version[7] > '1') {
        head[space + 8] = '1';
    }
    return HeadResult::Complete;
}

// The path and query of an origin-form target ("/path?query"), or of an
// absolute-form one ("http://host/path?query"), whose host is not ours to
// judge; false for any other form.
bool SplitTarget(std::string_view target, HttpRequest& out) {
    std::string_view path = target;
    for (std::string_view scheme : {"http://", "https://"}) {
        if (StartsWithIgnoringCase(target, scheme)) {
            const std::size_t pathStart = target.find_first_of("/?", scheme.size());
            path = pathStart == std::string_view::npos ? "" : target.substr(pathStart);
        }
    }
    if (path.data() == target.data() && (target.empty() || target.front() != '/')) {
        return false;
    }
    const auto question = path.find('?');
    const std::string_view route = path.substr(0, question);
    out.path = route.empty() ? std::string(1, '/') : PercentDecode(route, false);
    out.query = question == std::string_view::npos ? "" : path.substr(question + 1);
    return true;
}

// The last entry of a comma-separated list, without the blanks around it.
std::string LastEntry(const std::string& list) {
    const std::size_t comma = list.rfind(',');
    const std::string last = comma == std::string::npos ? list : list.substr(comma + 1);
    const std::size_t first = last.find_first_not_of(" \t");
    return first == std::string::npos
               ? ""
               : last.substr(first, last.find_last_not_of(" \t") - first + 1);
}

std::optional<std::string> LastForwardedFor(const http::request_header<>& head) {
    std::optional<std::string> list;
    for (const auto& field : head) {
        if (boost::beast::iequals(field.name_string(), "X-Forwarded-For")) {
            list = Std(field.value());
        }
    }
    if (!list) {
        return std::nullopt;
    }
    return LastEntry(*list);
}

// The fields the routes read, each as its last instance says unless noted.
void ReadFields(const http::request<http::empty_body>& head, HttpRequest& out) {
    out.method = Std(head.method_string());
    out.keepAlive = head.keep_alive();
    out.forwardedFor = LastForwardedFor(head);
    if (head.count(http::field::authorization) == 1) {
        out.authorization = Std(head[http::field::authorization]);
    }
    out.host = Std(head[http::field::host]);
    for (const auto& field : head) {
        const std::string_view value = Std(field.value());
        switch (field.name()) {
            case http::field::cookie:
                out.cookie += (out.cookie.empty() ? "" : "; ") + std::string(value);
                break;
            case http::field::origin:
                out.origin = value;
                break;
            default:
                if (boost::beast::iequals(field.name_string(), "Sec-Fetch-Site")) {
                    out.fetchSite = value;
                } else if (boost::beast::iequals(field.name_string(), "X-Forwarded-Proto")) {
                    out.forwardedHttps =
                        boost::beast::iequals(LastEntry(std::string(value)), "https");
                }
                break;
        }
    }
}

// Whether a request with a body may send it: a form posted to the account
// page, of a known length within the bound; bodyBytes is that length.
HeadResult FormBody(const http::request_parser<http::empty_body>& parser, const HttpRequest& out,
                    std::size_t& bodyBytes) {
    const auto& head = parser.get();
    const auto length = parser.content_length();
    if (out.method != "POST" || !out.path.starts_with(kFormPathPrefix) || !length ||
        *length > kMaxFormBytes || parser.chunked()) {
        return HeadResult::HasBody;
    }
    const std::string_view type = Std(head[http::field::content_type]);
    if (!StartsWithIgnoringCase(type, "application/x-www-form-urlencoded")) {
        return HeadResult::NotAForm;
    }
    bodyBytes = static_cast<std::size_t>(*length);
    return HeadResult::Complete;
}

// What the parsed head asks, and whether it may be served: one Host (required
// from HTTP/1.1 on), a bounded number of fields, and no body but a form's.
HeadResult Interpret(const http::request_parser<http::empty_body>& parser, HttpRequest& out,
                     std::size_t& bodyBytes) {
    const auto& head = parser.get();
    const std::size_t hosts = head.count(http::field::host);
    if (hosts > 1 || (hosts == 0 && head.version() >= 11)) {
        return HeadResult::Malformed;
    }
    if (static_cast<std::size_t>(std::distance(head.begin(), head.end())) > kMaxHeaderLines) {
        return HeadResult::HeadTooLarge;
    }
    ReadFields(head, out);
    if (!SplitTarget(Std(head.target()), out)) {
        return HeadResult::Malformed;
    }
    bodyBytes = 0;
    return parser.is_done() ? HeadResult::Complete : FormBody(parser, out, bodyBytes);
}

}  // namespace

HeadResult ParseRequestHead(std::string_view received, HttpRequest& out, std::size_t& consumed,
                            std::size_t searched) {
    const std::string_view window = received.substr(0, kMaxHeadBytes);
    const std::size_t skipped = LeadingEmptyLines(window);
    const std::size_t end = HeadEnd(window, std::max(searched, skipped));
    if (end == std::string_view::npos) {
        consumed = window.size();
        if (received.size() < kMaxHeadBytes) {
            return HeadResult::Incomplete;
        }
        return window.find('\n', skipped) == std::string_view::npos ? HeadResult::LineTooLong
                                                                    : HeadResult::HeadTooLarge;
    }
    std::string head(window.substr(skipped, end - skipped));
    if (const HeadResult version = CheckVersion(head); version != HeadResult::Complete) {
        return version;
    }
    http::request_parser<http::empty_body> parser;
    parser.header_limit(kMaxHeadBytes);
    // A body of any announced size is refused unread, as too large (413).
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(head), error);
    if (error || !parser.is_header_done()) {
        return HeadResult::Malformed;
    }
    std::size_t bodyBytes = 0;
    const HeadResult result = Interpret(parser, out, bodyBytes);
    if (result == HeadResult::Complete && received.size() < end + bodyBytes) {
        consumed = end - 1;  // the head is found again at once when more arrives
        return HeadResult::Incomplete;
    }
    out.body = received.substr(end, bodyBytes);
    consumed = end + bodyBytes;
    return result;
}

std::string QueryValue(std::string_view query, std::string_view key) {
    std::size_t start = 0;
    while (start <= query.size()) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        if (PercentDecode(pair.substr(0, equals), true) == key) {
            return equals == std::string_view::npos ? ""
                                                    : PercentDecode(pair.substr(equals + 1), true);
        }
        start = end + 1;
    }
    return "";
}

}  // namespace service
