#include "service/dns/tsig_key.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <regex>
#include <vector>

#include "service/dns/names.h"

namespace service {

namespace {

constexpr std::size_t kMaxKeyFileBytes = 65536;

std::optional<std::string> ReadSmallFile(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxKeyFileBytes) {
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool IsBase64(const std::string& text) {
    std::vector<unsigned char> bytes(text.size());
    std::size_t length = 0;
    return !text.empty() &&
           sodium_base642bin(bytes.data(), bytes.size(), text.c_str(), text.size(), nullptr,
                             &length, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0;
}

}  // namespace

bool ReadTsigKey(const std::string& path, TsigKey& key, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool shared = fstat(fd, &st) != 0 || (st.st_mode & 077) != 0;
    const std::optional<std::string> text = shared ? std::nullopt : ReadSmallFile(fd);
    close(fd);
    if (shared) {
        error = "the key file " + path +
                " can be read by others; make it readable by its owner only (chmod 600)";
        return false;
    }
    std::smatch name, algorithm, secret;
    if (!text || !std::regex_search(*text, name, std::regex(R"re(key\s+"([^"]+)"\s*\{)re")) ||
        !std::regex_search(*text, algorithm,
                           std::regex(R"re(algorithm\s+"?([A-Za-z0-9-]+)"?\s*;)re")) ||
        !std::regex_search(*text, secret, std::regex(R"re(secret\s+"([^"]*)"\s*;)re"))) {
        error = path + " is not a TSIG key file (key \"NAME\" { algorithm ...; secret \"...\"; };)";
        return false;
    }
    key = {name[1], AsciiLower(algorithm[1]), secret[1]};
    if (key.algorithm != "hmac-sha256" && key.algorithm != "hmac-sha512") {
        error =
            "unknown algorithm " + key.algorithm + " in " + path + " (hmac-sha256 or hmac-sha512)";
        return false;
    }
    if (!IsBase64(key.secret) || ZoneName(key.name).empty()) {
        error = "the key in " + path + " has no usable name or secret";
        return false;
    }
    return true;
}

}  // namespace service
