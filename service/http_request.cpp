#include "service/http_request.h"

#include <algorithm>
#include <vector>

namespace service {

namespace {

bool IsTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The head's lines without their line ends (a bare LF is accepted too).
std::vector<std::string_view> Lines(std::string_view head) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = head.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        std::string_view line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
    }
    return lines;
}

// The end of the head (just after its empty line), or npos while incomplete.
std::size_t HeadEnd(std::string_view received) {
    for (std::size_t at = 0; (at = received.find('\n', at)) != std::string_view::npos; ++at) {
        if (received.substr(at + 1, 1) == "\n") {
            return at + 2;
        }
        if (received.substr(at + 1, 2) == "\r\n") {
            return at + 3;
        }
    }
    return std::string_view::npos;
}

// The request line; an HTTP/1.1 connection stays open unless told otherwise.
HeadResult ParseRequestLine(std::string_view line, HttpRequest& out) {
    const auto firstSpace = line.find(' ');
    const auto lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace) {
        return HeadResult::Malformed;
    }
    const std::string_view method = line.substr(0, firstSpace);
    const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version = line.substr(lastSpace + 1);
    if (!IsToken(method) || target.empty() || target.front() != '/' ||
        target.find_first_of(" \t") != std::string_view::npos || !version.starts_with("HTTP/")) {
        return HeadResult::Malformed;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return HeadResult::UnsupportedVersion;
    }
    out.keepAlive = version == "HTTP/1.1";
    const auto question = target.find('?');
    out.method = method;
    out.path = PercentDecode(target.substr(0, question), false);
    out.query = question == std::string_view::npos ? "" : target.substr(question + 1);
    return HeadResult::Complete;
}

// Reads the headers that matter here: whether the connection stays open and
// whether a body follows (never wanted).
HeadResult ParseHeader(std::string_view line, bool& keepAlive) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) {
        return HeadResult::Malformed;  // also a folded continuation line
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
        return HeadResult::HasBody;
    }
    if (EqualsIgnoringCase(name, "Content-Length")) {
        if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
            return HeadResult::Malformed;
        }
        return value.find_first_not_of('0') == std::string_view::npos ? HeadResult::Complete
                                                                      : HeadResult::HasBody;
    }
    if (EqualsIgnoringCase(name, "Connection")) {
        if (EqualsIgnoringCase(value, "close")) {
            keepAlive = false;
        } else if (EqualsIgnoringCase(value, "keep-alive")) {
            keepAlive = true;
        }
    }
    return HeadResult::Complete;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

HeadResult ParseRequestHead(std::string_view received, HttpRequest& out, std::size_t& consumed) {
    const std::size_t end = HeadEnd(received.substr(0, kMaxHeadBytes));
    if (end == std::string_view::npos) {
        if (received.size() < kMaxHeadBytes) {
            return HeadResult::Incomplete;
        }
        return received.substr(0, kMaxHeadBytes).find('\n') == std::string_view::npos
                   ? HeadResult::LineTooLong
                   : HeadResult::HeadTooLarge;
    }
    const std::vector<std::string_view> lines = Lines(received.substr(0, end));
    // lines ends with the empty line that closes the head.
    if (lines.size() - 2 > kMaxHeaderLines) {
        return HeadResult::HeadTooLarge;
    }
    if (HeadResult r = ParseRequestLine(lines.front(), out); r != HeadResult::Complete) {
        return r;
    }
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        if (HeadResult r = ParseHeader(lines[i], out.keepAlive); r != HeadResult::Complete) {
            return r;
        }
    }
    consumed = end;
    return HeadResult::Complete;
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += plusIsSpace && c == '+' ? ' ' : c;
        }
    }
    return out;
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
