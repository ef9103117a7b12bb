// The request URL for any login and password: only unreserved characters and
// escapes in the query, and a standard decoder gives back exactly the input.
#include <QString>
#include <cstdint>
#include <string>

#include "update/request_url.h"

namespace {

std::string Decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool Allowed(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '%';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\n');
    const QString login = QString::fromUtf8(input.substr(0, cut));
    const QString password =
        QString::fromUtf8(cut == std::string::npos ? std::string() : input.substr(cut + 1));
    const std::string url = update::BuildRequestUrl("h", login, password);
    const std::string prefix = "http://h/process.php?login=";
    const std::size_t amp = url.find("&password=");
    if (url.rfind(prefix, 0) != 0 || amp == std::string::npos ||
        url.find('&', amp + 1) != std::string::npos) {
        __builtin_trap();
    }
    const std::string encLogin = url.substr(prefix.size(), amp - prefix.size());
    const std::string encPassword = url.substr(amp + 10);
    for (char c : encLogin + encPassword) {
        if (!Allowed(c)) {
            __builtin_trap();
        }
    }
    if (Decode(encLogin) != login.toStdString() || Decode(encPassword) != password.toStdString()) {
        __builtin_trap();
    }
    return 0;
}
