#include "service/store/uri_secrets.h"

#include <algorithm>
#include <cctype>

#include "service/common/percent_decode.h"

namespace service {

namespace {

constexpr std::string_view kDelimiters = "/@:?#&=[]";
constexpr std::size_t kShortestPiece = 3;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

}  // namespace

std::vector<std::pair<std::size_t, std::size_t>> PasswordSpans(std::string_view uri) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    const std::size_t scheme = uri.find("://");
    const std::size_t authority = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t at = uri.rfind('@');
    const std::size_t colon = uri.find(':', authority);
    if (at != std::string_view::npos && at > authority && colon < at) {
        spans.emplace_back(colon + 1, at - colon - 1);
    }
    const std::string lower = Lower(uri);
    for (std::size_t key = lower.find("password="); key != std::string::npos;
         key = lower.find("password=", key + 1)) {
        const std::size_t value = key + 9;
        const std::size_t end = std::min(uri.find('&', value), uri.size());
        spans.emplace_back(value, end - value);
    }
    return spans;
}

std::vector<std::string> UriSecrets(std::string_view uri) {
    std::vector<std::string> secrets;
    for (const auto& [offset, length] : PasswordSpans(uri)) {
        const std::string_view password = uri.substr(offset, length);
        for (const std::string& form : {std::string(password), PercentDecode(password, false)}) {
            secrets.push_back(form);
            for (std::size_t start = 0; start < form.size();) {
                const std::size_t end =
                    std::min(form.find_first_of(kDelimiters, start), form.size());
                if (end - start >= kShortestPiece) {
                    secrets.push_back(form.substr(start, end - start));
                }
                start = end + 1;
            }
        }
    }
    std::erase_if(secrets, [](const std::string& s) { return s.empty(); });
    // Longest first, so that a piece never leaves part of its whole behind.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return secrets;
}

std::string WithoutSecrets(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        for (std::size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }
    return text;
}

}  // namespace service
