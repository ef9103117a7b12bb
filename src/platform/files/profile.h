// INI ("profile") file access with the observable behaviour the program relies
// on from the classic profile functions.
//
// Reading: section and key names match regardless of case and of blanks around
// them; blanks around a value are dropped and one pair of matching outer
// quotes ('...' or "...") is removed; lines starting with ';' are comments; CR LF,
// LF and CR line ends all read; a UTF-8 byte-order mark is skipped. The first
// matching section and key win. A missing file, section or key gives the
// default; a key with an empty value gives an empty text.
//
// Writing: an existing key keeps its place and spelling and gets the new value;
// a missing key goes after the last non-blank line of its section; a missing
// section is appended at the end of the file. Every other byte stays as it was,
// and new lines take the line-end style of the file's first line (LF for a new
// file). The file is replaced atomically (a temporary file with an unpredictable
// name in the same folder, fsync, rename); a symbolic link is followed and kept.
// The file may hold a password, so it is always left readable and writable by
// its owner only (0600 when new, else the owner's bits of its mode), from the
// temporary's first byte on. A write that would not change the file's bytes
// does not rewrite it. Writers of one folder take turns (an advisory lock,
// waited for at most about two seconds), so concurrent writers lose no keys.
//
// A file over 1 MiB is not a settings file: it reads as missing and is never
// replaced, so a huge file cannot freeze the program.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Copies the value into buf, cut to size - 1 bytes (never splitting a UTF-8
// sequence) and NUL-terminated. Returns the number of bytes copied.
std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, char* buf, std::size_t size,
                                    const std::string& path);

// Sets the key to value. Returns false when the file could not be written; the
// file is then left as it was, and errno tells why.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

}  // namespace platform
