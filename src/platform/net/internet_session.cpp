#include "platform/net/internet_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "platform/diagnostics.h"
#include "platform/session/close_signals.h"

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
    CURLM* multi = nullptr;  // drives the transfer, so that a close signal can end it
    curl_slist* headers = nullptr;
    curl_slist* resolve = nullptr;
    char error[CURL_ERROR_SIZE] = {};  // libcurl's words for the last failure
    ~Impl() {
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
        }
        if (curl != nullptr) {
            curl_easy_cleanup(curl);
        }
        curl_slist_free_all(headers);
        curl_slist_free_all(resolve);
    }

    CURLcode Perform();
    CURLcode PerformPreferringIpv4();
};

// Runs one transfer to its end, or until a close signal arrives: the exchange
// blocks the event loop, and the program must still end at once when asked.
CURLcode InternetSession::Impl::Perform() {
    constexpr int kMaxWaitMs = 1000;
    curl_multi_add_handle(multi, curl);
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    for (bool done = false; !done && !CloseSignalPending();) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        curl_waitfd closeSignal{CloseSignalDescriptor(), CURL_WAIT_POLLIN, 0};
        if (!done) {
            curl_multi_poll(multi, &closeSignal, closeSignal.fd >= 0 ? 1 : 0, kMaxWaitMs, nullptr);
        }
    }
    curl_multi_remove_handle(multi, curl);
    return result;
}

// The reply has room for an IPv4 address only, so a service with both kinds is
// reached over IPv4; IPv6 is the way when no IPv4 path connects.
CURLcode InternetSession::Impl::PerformPreferringIpv4() {
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
    CURLcode rc = Perform();
    if (rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_CONNECT) {
        curl_easy_setopt(curl, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V6);
        const CURLcode v6 = Perform();
        // A name without any address keeps saying so.
        rc = v6 == CURLE_COULDNT_RESOLVE_HOST ? rc : v6;
    }
    return rc;
}

InternetSession::InternetSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
InternetSession::~InternetSession() = default;

std::unique_ptr<InternetSession> InternetSession::Open(const std::string& agent,
                                                       InternetTimeouts timeouts,
                                                       const std::vector<std::string>& fixedNames) {
    auto impl = std::make_unique<Impl>();
    impl->curl = curl_easy_init();
    impl->multi = curl_multi_init();
    if (impl->curl == nullptr || impl->multi == nullptr) {
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
    for (const std::string& entry : fixedNames) {
        impl->resolve = curl_slist_append(impl->resolve, entry.c_str());
    }
    curl_easy_setopt(c, CURLOPT_RESOLVE, impl->resolve);
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
    CURLcode rc = impl_->PerformPreferringIpv4();
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
