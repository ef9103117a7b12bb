#include "platform/internet_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "platform/diagnostics.h"

namespace platform {

namespace {

// What one transfer gathers from libcurl's callbacks.
struct Transfer {
    std::string body;
    std::size_t wanted = 0;
    bool headerComplete = false;  // the blank line after the last response's header arrived
    long lastStatus = 0;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    std::size_t len = size * count;
    std::string_view line(data, len);
    if (line.starts_with("HTTP/")) {
        t->headerComplete = false;
        std::size_t space = line.find(' ');
        t->lastStatus = space == std::string_view::npos ? 0 : std::atol(line.data() + space + 1);
    } else if (line == "\r\n" || line == "\n") {
        t->headerComplete = true;
    }
    return len;
}

// Keeps the body up to the wanted size; asking for more ends the transfer.
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    std::size_t len = size * count;
    std::size_t room = t->wanted - t->body.size();
    std::size_t take = std::min(room, len);
    t->body.append(data, take);
    return take == len ? len : 0;
}

bool IsFollowedRedirect(long status) {
    return status >= 300 && status < 400;
}

}  // namespace

struct InternetSession::Impl {
    CURL* curl = nullptr;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = {};  // libcurl's words for the last failure
    ~Impl() {
        if (curl != nullptr) {
            curl_easy_cleanup(curl);
        }
        curl_slist_free_all(headers);
    }
};

InternetSession::InternetSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
InternetSession::~InternetSession() = default;

std::unique_ptr<InternetSession> InternetSession::Open(const std::string& agent,
                                                       InternetTimeouts timeouts) {
    auto impl = std::make_unique<Impl>();
    impl->curl = curl_easy_init();
    if (impl->curl == nullptr) {
        return nullptr;
    }
    CURL* c = impl->curl;
    curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeouts.totalMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // A service may move to https and redirect there; nothing else is followed.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Every request must reach the service, never a cache on the way.
    impl->headers = curl_slist_append(impl->headers, "Cache-Control: no-cache");
    impl->headers = curl_slist_append(impl->headers, "Pragma: no-cache");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, impl->headers);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, impl->error);
    return std::unique_ptr<InternetSession>(new InternetSession(std::move(impl)));
}

std::unique_ptr<InternetRequest> InternetSession::OpenUrl(const std::string& url,
                                                          std::size_t readSize) {
    CURL* c = impl_->curl;
    Transfer t;
    t.wanted = std::min(readSize, kMaxRead);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    impl_->error[0] = '\0';
    CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, nullptr);

    bool stoppedByUs = rc == CURLE_WRITE_ERROR && t.body.size() == t.wanted;
    bool ok = rc == CURLE_OK || stoppedByUs;
    if (!ok) {
        // The address holds the password: only libcurl's reason is told.
        qCWarning(lcHttp, "request failed: %s%s%s", curl_easy_strerror(rc),
                  impl_->error[0] != '\0' ? ": " : "", impl_->error);
    } else if (!t.headerComplete) {
        qCWarning(lcHttp) << "request failed: no HTTP response header";
    }
    if (!t.headerComplete || (!ok && IsFollowedRedirect(t.lastStatus))) {
        return nullptr;
    }
    return std::make_unique<InternetRequest>(std::move(t.body), ok);
}

InternetRequest::InternetRequest(std::string body, bool complete)
    : body_(std::move(body)), complete_(complete) {}

bool InternetRequest::Read(char* buf, std::size_t size, std::size_t& bytesRead) const {
    bytesRead = 0;
    if (!complete_) {
        return false;
    }
    bytesRead = std::min(size, body_.size());
    std::memcpy(buf, body_.data(), bytesRead);
    return true;
}

// Nothing global beyond what plain HTTP needs; libcurl sets up TLS itself the
// first time a redirect leads to https, which keeps start-up quick and small.
bool InternetStartup() {
    return curl_global_init(CURL_GLOBAL_NOTHING) == CURLE_OK;
}

void InternetCleanup() {
    curl_global_cleanup();
}

}  // namespace platform
