// %XX sequences, as URLs and URIs carry bytes.
#pragma once

#include <string>
#include <string_view>

namespace service {

// %XX sequences decoded; with plusIsSpace, '+' is a space as in a form.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

}  // namespace service
