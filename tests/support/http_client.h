// A small HTTP client for tests that talk to the real service: one libcurl
// easy handle, reused for every request, collecting each body.
#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

namespace testsupport {

class HttpClient {
public:
    // source: the local address to send from (one of 127.0.0.0/8), if not the default.
    explicit HttpClient(const char* source = nullptr) : curl_(curl_easy_init()) {
        curl_easy_setopt(curl_, CURLOPT_INTERFACE, source);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 30L);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        const auto collect = +[](char* d, size_t s, size_t n, void* out) {
            static_cast<std::string*>(out)->append(d, s * n);
            return s * n;
        };
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &body_);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &head_);
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, collect);
    }
    ~HttpClient() {
        curl_easy_cleanup(curl_);
        curl_slist_free_all(headers_);
    }
    // A header line ("Name: value") sent with every request from now on.
    void AddHeader(const std::string& line) {
        headers_ = curl_slist_append(headers_, line.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    }
    // HTTPS: only certificates that the authority in caFile signed are taken.
    void TrustOnly(const std::string& caFile) {
        curl_easy_setopt(curl_, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(curl_, CURLOPT_CAPATH, nullptr);
    }
    // How many new connections the last request opened (0: it reused one).
    long NewConnections() {
        long count = -1;
        curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &count);
        return count;
    }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The body, or nothing when no reply arrived; status gets the HTTP status.
    std::optional<std::string> Get(const std::string& url, long* status = nullptr) {
        body_.clear();
        head_.clear();
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        if (curl_easy_perform(curl_) != CURLE_OK) {
            return std::nullopt;
        }
        if (status != nullptr) {
            curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, status);
        }
        return body_;
    }

    // POSTs body as a form; as Get otherwise.
    std::optional<std::string> Post(const std::string& url, const std::string& body,
                                    long* status = nullptr) {
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
        std::optional<std::string> reply = Get(url, status);
        curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
        return reply;
    }

    // The last reply's status line and header lines, as received.
    const std::string& Head() const { return head_; }

private:
    CURL* curl_;
    curl_slist* headers_ = nullptr;
    std::string body_;
    std::string head_;
};

}  // namespace testsupport
