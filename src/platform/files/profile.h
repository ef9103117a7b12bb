// INI ("profile") file access with the observable behaviour the program relies
// on from the classic profile functions.
//
// The text is read and edited as ini_text.h describes. A missing file gives
// every key its default.
//
// The file is replaced atomically (a temporary file with an unpredictable
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
