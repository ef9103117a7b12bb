#include "platform/files/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/diagnostics.h"
#include "platform/files/crt.h"

namespace platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// A settings file is a few hundred bytes; one far larger is not one, and reading
// it at every key would freeze the program, so it is treated as unreadable.
constexpr off_t kMaxFileSize = 1 << 20;

// How long a writer waits for another writer of the same folder to finish.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockPoll = std::chrono::milliseconds(5);

constexpr int kMaxLinkHops = 40;
constexpr int kTemporaryAttempts = 64;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// The whole content of a regular file of settings size, or nothing.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    if (st.st_size > kMaxFileSize) {
        errno = EFBIG;
        return std::nullopt;
    }
    constexpr auto kMax = static_cast<std::size_t>(kMaxFileSize);
    // One byte more than the file holds, so that growth while reading shows.
    std::string content(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t total = 0;
    for (;;) {
        if (total == content.size()) {
            if (total > kMax) {
                errno = EFBIG;
                return std::nullopt;  // it grew past any settings file while being read
            }
            content.resize(std::min(2 * total, kMax + 1));
        }
        ssize_t n = read(fd.get(), content.data() + total, content.size() - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    content.resize(total);
    return content;
}

// One line of the content: [begin, textEnd) is its text, [textEnd, end) its line end.
struct LineSpan {
    std::size_t begin;
    std::size_t textEnd;
    std::size_t end;
};

std::optional<LineSpan> NextLine(std::string_view content, std::size_t pos) {
    if (pos >= content.size()) {
        return std::nullopt;
    }
    std::size_t textEnd = content.find_first_of("\r\n", pos);
    if (textEnd == std::string_view::npos) {
        return LineSpan{pos, content.size(), content.size()};
    }
    bool crlf =
        content[textEnd] == '\r' && textEnd + 1 < content.size() && content[textEnd + 1] == '\n';
    return LineSpan{pos, textEnd, textEnd + (crlf ? 2 : 1)};
}

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t";
    std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view text) {
    std::string_view t = Trim(text);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    std::size_t close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view text) {
    std::string_view t = Trim(text);
    return !t.empty() && t.front() == ';';
}

// The key of a "key=value" line, or nothing.
std::optional<std::string_view> KeyName(std::string_view text) {
    if (IsComment(text)) {
        return std::nullopt;
    }
    std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(text.substr(0, eq));
}

std::string_view ValueOf(std::string_view text) {
    std::string_view v = Trim(text.substr(text.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

// Where a section and a key stand in the content, as byte offsets.
struct Location {
    bool section = false;
    std::size_t afterSection = 0;  // end of the section's last non-blank line
    std::optional<LineSpan> key;   // the key's line
};

Location Find(std::string_view content, std::string_view section, std::string_view key) {
    Location loc;
    for (auto line = NextLine(content, 0); line; line = NextLine(content, line->end)) {
        std::string_view text = content.substr(line->begin, line->textEnd - line->begin);
        if (line->begin == 0 && text.starts_with(kBom)) {
            text.remove_prefix(kBom.size());
        }
        if (auto name = SectionName(text)) {
            if (loc.section) {
                break;
            }
            if (EqualNoCase(*name, Trim(section))) {
                loc.section = true;
                loc.afterSection = line->end;
            }
            continue;
        }
        if (!loc.section) {
            continue;
        }
        if (!Trim(text).empty()) {
            loc.afterSection = line->end;
        }
        if (!loc.key) {
            auto name = KeyName(text);
            if (name && EqualNoCase(*name, Trim(key))) {
                loc.key = line;
            }
        }
    }
    return loc;
}

// The line end the file uses: that of its first line (LF for a file without one).
std::string LineEndStyle(std::string_view content) {
    auto first = NextLine(content, 0);
    if (!first || first->end == first->textEnd) {
        return "\n";
    }
    return std::string(content.substr(first->textEnd, first->end - first->textEnd));
}

bool EndsWithLineEnd(std::string_view content) {
    return !content.empty() && (content.back() == '\n' || content.back() == '\r');
}

std::string WithValue(std::string_view old, const std::string& section, const std::string& key,
                      const std::string& value) {
    const std::string eol = LineEndStyle(old);
    std::string body(old);
    const bool unterminated = !old.empty() && !EndsWithLineEnd(old);
    if (unterminated) {
        body += eol;  // give the last line an end before adding lines
    }
    const Location loc = Find(body, section, key);
    if (loc.key) {
        std::string_view text(body.data() + loc.key->begin, loc.key->textEnd - loc.key->begin);
        std::size_t keyStart = text.find_first_not_of(" \t");
        std::string_view spelling = Trim(text.substr(0, text.find('=')));
        std::string line = std::string(text.substr(0, keyStart)).append(spelling) + "=" + value;
        body.replace(loc.key->begin, text.size(), line);
        // The last line is still last: a file that ended without a line end
        // keeps ending that way.
        if (unterminated) {
            body.resize(body.size() - eol.size());
        }
    } else if (loc.section) {
        body.insert(loc.afterSection, key + "=" + value + eol);
    } else {
        body += "[" + section + "]" + eol + key + "=" + value + eol;
    }
    return body;
}

bool IsReadOnly(const std::string& path, const struct stat& st) {
    return access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path names once symbolic links are followed, so that a linked
// settings file is updated where it lives and the link is kept. A dangling
// link gives the path it points to; a loop of links gives nothing.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return path;
        }
        char target[PATH_MAX];
        ssize_t len = readlink(path.c_str(), target, sizeof target);
        if (len <= 0 || static_cast<std::size_t>(len) == sizeof target) {
            return std::nullopt;
        }
        std::string next(target, static_cast<std::size_t>(len));
        path = next.front() == '/' ? next : DirectoryOf(path) + "/" + next;
    }
    return std::nullopt;
}

// Serialises the read-modify-write of the settings files of one folder between
// processes (an advisory lock on the folder, so no lock file is left behind).
// Waiting for another holder is bounded; after that the write goes on unlocked.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir)
        : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (fd_.get() >= 0 && flock(fd_.get(), LOCK_EX | LOCK_NB) != 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kLockPoll);
        }
    }

private:
    FileDescriptor fd_;  // closing it releases the lock
};

void SyncDirectory(const std::string& dir) {
    FileDescriptor fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        fsync(fd.get());
    }
}

std::string RandomTag() {
    unsigned char bytes[8];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR) {
            break;
        }
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string tag;
    for (unsigned char b : bytes) {
        tag += kHex[b >> 4];
        tag += kHex[b & 0xF];
    }
    return tag;
}

// The writer's pid in a temporary's name: "<file>.<pid>.<random>.tmp", or the
// "<file>.<pid>.tmp" of earlier versions.
std::optional<pid_t> WriterOf(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) {
        return std::nullopt;
    }
    std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    std::string_view pidText = middle.substr(0, middle.find('.'));
    if (pidText.empty() || pidText.size() > 9 ||
        pidText.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return static_cast<pid_t>(std::stol(std::string(pidText)));
}

// Removes temporary files that writers killed before their rename left behind;
// those of running processes are theirs to finish.
void RemoveStaleTemporaries(const std::string& path) {
    const std::string prefix = BaseName(path) + ".";
    DIR* d = opendir(DirectoryOf(path).c_str());
    if (d == nullptr) {
        return;
    }
    while (dirent* entry = readdir(d)) {
        auto pid = WriterOf(entry->d_name, prefix);
        if (pid && (*pid == getpid() || (kill(*pid, 0) != 0 && errno == ESRCH))) {
            unlinkat(dirfd(d), entry->d_name, 0);
        }
    }
    closedir(d);
}

// Creates a temporary file beside path under a name nobody can predict, with
// the given mode from its first byte. Returns its descriptor, or -1.
int CreateTemporary(const std::string& path, mode_t mode, std::string& name) {
    const std::string stem = path + "." + std::to_string(getpid()) + ".";
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        name = stem + RandomTag() + ".tmp";
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Replaces the file's content atomically, with the given mode: the new content
// goes to a temporary file in the same folder, reaches the disk, and is renamed
// over the file, so a crash leaves either the old file or the new one.
bool ReplaceFile(const std::string& path, const std::string& content, mode_t mode) {
    RemoveStaleTemporaries(path);
    std::string tmp;
    int fd = CreateTemporary(path, mode, tmp);
    if (fd < 0) {
        return false;
    }
    // The umask may have narrowed the mode further; fchmod restores the
    // owner's bits only, never wider than mode.
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, content) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) {
        SyncDirectory(DirectoryOf(path));
        return true;
    }
    unlink(tmp.c_str());
    return false;
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
        auto content = ReadWholeFile(path);
        if (!content) {
            return false;
        }
        old = std::move(*content);
    }
    std::string updated = WithValue(old, section, key, value);
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
    auto content = ReadWholeFile(path);
    if (content) {
        Location loc = Find(*content, section, key);
        if (loc.key) {
            value = ValueOf(std::string_view(*content).substr(loc.key->begin,
                                                              loc.key->textEnd - loc.key->begin));
        }
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
