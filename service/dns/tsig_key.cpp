#include "service/dns/tsig_key.h"

#include <sodium.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <vector>

#include "service/common/private_file.h"
#include "service/dns/names.h"

namespace service {

namespace {

// The key file without its comments (# and // to the end of the line, and
// /* ... */), as name servers read it; quoted text is kept whole.
std::string WithoutComments(const std::string& text) {
    std::string kept;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (quoted || (c != '#' && !(c == '/' && (next == '/' || next == '*')))) {
            quoted = c == '"' ? !quoted : quoted;
            kept += c;
        } else if (c == '/' && next == '*') {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 1;
            kept += ' ';
        } else {
            i = std::min(text.find('\n', i), text.size()) - 1;
        }
    }
    return kept;
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
    const std::optional<std::string> file = ReadPrivateFile(path, "the key file", error);
    if (!file) {
        return false;
    }
    const std::string text = WithoutComments(*file);
    std::smatch name, algorithm, secret;
    if (!std::regex_search(text, name, std::regex(R"re(key\s+"([^"]+)"\s*\{)re")) ||
        !std::regex_search(text, algorithm,
                           std::regex(R"re(algorithm\s+"?([A-Za-z0-9-]+)"?\s*;)re")) ||
        !std::regex_search(text, secret, std::regex(R"re(secret\s+"([^"]*)"\s*;)re"))) {
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
