#include "service/common/address.h"

#include <arpa/inet.h>

#include <cstring>

namespace service {

std::string CanonicalAddress(const std::string& text) {
    in6_addr raw{};
    char shown[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, text.c_str(), &raw) == 1) {
        return inet_ntop(AF_INET, &raw, shown, sizeof shown);
    }
    if (inet_pton(AF_INET6, text.c_str(), &raw) != 1) {
        return "";
    }
    return IN6_IS_ADDR_V4MAPPED(&raw) ? inet_ntop(AF_INET, &raw.s6_addr[12], shown, sizeof shown)
                                      : inet_ntop(AF_INET6, &raw, shown, sizeof shown);
}

std::string AddressBlock(const std::string& address) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) {
        return address;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &v6, text, sizeof text);
    return std::string(text) + "/64";
}

bool ParseHostPort(const std::string& text, HostPort& out) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) {
        return false;
    }
    const int value = std::stoi(port);
    if (value < 1 || value > 65535) {
        return false;
    }
    out = {host, value};
    return true;
}

bool IsLoopback(const std::string& address) {
    return address == "::1" || address.starts_with("127.");
}

}  // namespace service
