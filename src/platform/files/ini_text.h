// The INI text of a settings file, edited in memory.
//
// Reading: section and key names match regardless of case and of blanks around
// them; blanks around a value are dropped and one pair of matching outer
// quotes ('...' or "...") is removed; lines starting with ';' are comments; CR LF,
// LF and CR line ends all read; a UTF-8 byte-order mark is skipped. The first
// matching section and key win.
//
// Writing: an existing key keeps its place and spelling and gets the new value;
// a missing key goes after the last non-blank line of its section; a missing
// section is appended at the end of the text. Every other byte stays as it was,
// and new lines take the line-end style of the text's first line (LF for an
// empty text).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The key's value, or nothing when the section or the key is missing.
std::optional<std::string_view> IniValue(std::string_view content, std::string_view section,
                                         std::string_view key);

// The text with the key set to value.
std::string IniWithValue(std::string_view content, const std::string& section,
                         const std::string& key, const std::string& value);

}  // namespace platform
