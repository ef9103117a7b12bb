#include "service/common/basic_auth.h"

#include <cstdint>
#include <string_view>

namespace service {

namespace {

// The value of one base64 digit, -1 for any other character.
int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Standard base64 with its padding optional; nothing when text is not base64.
std::optional<std::string> Base64Decoded(std::string_view text) {
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string out;
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : text) {
        const int digit = Base64Digit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(digit);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>((bits >> held) & 0xff);
        }
    }
    return out;
}

// Whether text begins with the scheme's name in any case, then a blank.
bool NamesBasic(std::string_view text) {
    constexpr std::string_view kScheme = "basic ";
    if (text.size() < kScheme.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (c != kScheme[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<BasicCredentials> ParseBasicAuthorization(const std::string& field) {
    std::string_view value = field;
    if (!NamesBasic(value)) {
        return std::nullopt;
    }
    value.remove_prefix(6);
    while (!value.empty() && value.front() == ' ') {
        value.remove_prefix(1);
    }
    const std::optional<std::string> pair = Base64Decoded(value);
    const std::size_t colon = pair ? pair->find(':') : std::string::npos;
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return BasicCredentials{pair->substr(0, colon), pair->substr(colon + 1)};
}

}  // namespace service
