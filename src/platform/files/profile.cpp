#include "platform/files/profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/diagnostics.h"
#include "platform/files/atomic_file.h"
#include "platform/files/crt.h"
#include "platform/files/ini_text.h"

namespace platform {
namespace {

bool IsReadOnly(const std::string& path, const struct stat& st) {
    return access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The mode the settings file is kept with: the owner's bits only, since it may
// hold a password.
mode_t OwnerOnly(mode_t mode) {
    return mode & S_IRWXU;
}

// An unchanged file still must not stay readable by others: narrow its mode,
// or, when it belongs to someone else, replace it with a file of our own.
bool KeepPrivate(const std::string& path, const std::string& content, const struct stat& st) {
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0) {
        return true;
    }
    if (st.st_uid == geteuid() && chmod(path.c_str(), OwnerOnly(st.st_mode)) == 0) {
        return true;
    }
    return ReplaceFile(path, content, OwnerOnly(st.st_mode));
}

bool WriteLocked(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& path) {
    struct stat st {};
    bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (exists && IsReadOnly(path, st)) {
        errno = EACCES;
        return false;
    }
    std::string old;
    if (exists) {
        auto content = ReadSettingsFile(path);
        if (!content) {
            return false;
        }
        old = std::move(*content);
    }
    std::string updated = IniWithValue(old, section, key, value);
    if (exists && updated == old) {
        return KeepPrivate(path, updated, st);
    }
    return ReplaceFile(path, updated, exists ? OwnerOnly(st.st_mode) : S_IRUSR | S_IWUSR);
}

}  // namespace

std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, char* buf, std::size_t size,
                                    const std::string& path) {
    if (size == 0) {
        return 0;
    }
    std::string_view value = defaultValue;
    const auto content = ReadSettingsFile(path);
    if (content) {
        value = IniValue(*content, section, key).value_or(value);
    }
    std::size_t len = Utf8FittingLength(value, size - 1);
    value.copy(buf, len);
    buf[len] = '\0';
    return len;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
    errno = 0;
    const auto file = FollowLinks(path);
    bool written = false;
    if (file) {
        FolderLock lock(DirectoryOf(*file));
        written = WriteLocked(section, key, value, *file);
    }
    if (!written) {
        const int reason = errno != 0 ? errno : ELOOP;
        qCWarning(lcSettings, "cannot write %s to %s: %s", key.c_str(), path.c_str(),
                  std::strerror(reason));
        errno = reason;
    }
    return written;
}

}  // namespace platform
