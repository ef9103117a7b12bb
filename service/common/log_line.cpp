#include "service/common/log_line.h"

#include <cstdio>

namespace service {

namespace {
constexpr std::string_view kProgram = "kestrome-service: ";
constexpr std::size_t kShownBytes = 64;
}  // namespace

std::string ServiceLine(std::string_view text) {
    std::string line;
    line.reserve(kProgram.size() + text.size() + 1);
    line.append(kProgram).append(text).push_back('\n');
    return line;
}

std::string LogSafe(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, kShownBytes)) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return text.size() > kShownBytes ? out + "..." : out;
}

}  // namespace service
