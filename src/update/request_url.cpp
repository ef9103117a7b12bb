#include "update/request_url.h"

namespace update {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string PercentEncode(const QString& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char ch : text.toUtf8()) {
        auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string BuildRequestUrl(const std::string& host, const QString& login,
                            const QString& password) {
    return "http://" + host + "/process.php?login=" + PercentEncode(login) +
           "&password=" + PercentEncode(password);
}

}  // namespace update
