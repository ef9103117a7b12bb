#include "service/dns/names.h"

#include <idn2.h>

#include <algorithm>
#include <cctype>

namespace service {

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string ZoneName(const std::string& text) {
    const std::string name = text.ends_with('.') ? text.substr(0, text.size() - 1) : text;
    if (name.empty() || name.size() > 253) {
        return "";
    }
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('.', start), name.size());
        const std::string label = name.substr(start, end - start);
        const bool fits =
            !label.empty() && label.size() <= 63 && label.front() != '-' && label.back() != '-' &&
            std::all_of(label.begin(), label.end(),
                        [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
        if (!fits) {
            return "";
        }
        start = end + 1;
    }
    return AsciiLower(name) + ".";
}

bool IdnaLabelDecodes(const std::string& label) {
    // Published in lower case, as it is decoded here.
    const std::string lower = AsciiLower(label);
    if (!lower.starts_with("xn--")) {
        return true;
    }
    char* unicode = nullptr;
    uint8_t* back = nullptr;
    const bool same =
        idn2_to_unicode_8z8z(lower.c_str(), &unicode, 0) == IDN2_OK &&
        idn2_lookup_u8(reinterpret_cast<const uint8_t*>(unicode), &back, IDN2_NO_TR46) == IDN2_OK &&
        reinterpret_cast<const char*>(back) == lower;
    idn2_free(unicode);
    idn2_free(back);
    return same;
}

bool PublishableLabel(const std::string& login) {
    return IdnaLabelDecodes(login) && !login.empty() && login.size() <= 63 &&
           login.front() != '-' && login.back() != '-' &&
           std::all_of(login.begin(), login.end(),
                       [](unsigned char c) { return (c < 0x80 && std::isalnum(c)) || c == '-'; });
}

bool ReservedLabel(const std::string& login, const std::set<std::string>& reserved) {
    static const std::set<std::string> kZonesOwn = {
        "ns",   "ns1", "ns2", "www",       "mail", "mx",          "smtp",
        "imap", "pop", "ftp", "localhost", "wpad", "autodiscover"};
    const std::string label = AsciiLower(login);
    return kZonesOwn.contains(label) || reserved.contains(label);
}

std::string DnsName(const std::string& label, const std::string& zone) {
    return AsciiLower(label) + "." + zone;
}

}  // namespace service
