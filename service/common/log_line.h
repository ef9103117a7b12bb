// Lines of the service's log: how they are handed on, how the service signs
// what it says of itself, and how values from outside are shown in them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace service {

// Takes one or more whole lines, each with its line end.
using LineSink = std::function<void(const std::string& lines)>;

// What the service says of itself, as one line: its name, then text.
std::string ServiceLine(std::string_view text);

// A value from outside (a request, the database) as shown in a line: every
// byte outside printable ASCII, and the quote and backslash, escaped, so that
// no value can forge or garble a line; values over 64 bytes cut.
std::string LogSafe(std::string_view text);

}  // namespace service
