// Stand-ins for the C runtime calls the program relies on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The decimal value of a text as atoi reads it: leading white space, an optional
// sign, digits up to the first non-digit; no digits gives 0. Out-of-range values
// are clamped to the int range instead of being undefined.
int AtoI(const char* text);

// Length of the longest prefix of text that fits in max bytes without
// splitting a UTF-8 sequence.
std::size_t Utf8FittingLength(std::string_view text, std::size_t max);

// The process's current directory, whatever its length; an empty text when it
// cannot be obtained (the folder was removed) or is too long to name files by.
std::string GetCurrentDirectory();

}  // namespace platform
