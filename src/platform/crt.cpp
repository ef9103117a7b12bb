#include "platform/crt.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

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

void GetCurrentDirectory(char* buf, std::size_t size) {
    if (size > 0 && getcwd(buf, size) == nullptr) {
        buf[0] = '\0';
    }
}

}  // namespace platform
