#include "platform/files/crt.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace platform {

int AtoI(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') {
        ++text;
    }
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = std::min<long long>(value * 10 + (*text - '0'), 1LL + INT_MAX);
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::size_t Utf8FittingLength(std::string_view text, std::size_t max) {
    if (text.size() <= max) {
        return text.size();
    }
    std::size_t len = max;
    while (len > 0 && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80) {
        --len;
    }
    return len;
}

std::string GetCurrentDirectory() {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) {
        return {};
    }
    std::string directory = cwd;
    std::free(cwd);
    // A file name under a longer folder cannot be opened; the caller then names
    // its files relative to the current directory, which is the same folder.
    if (directory.size() + NAME_MAX >= PATH_MAX) {
        return {};
    }
    return directory;
}

}  // namespace platform
