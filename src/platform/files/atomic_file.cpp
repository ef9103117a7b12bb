#include "platform/files/atomic_file.h"

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
#include <thread>

namespace platform {
namespace {

// A settings file is a few hundred bytes; one far larger is not one, and reading
// it at every key would freeze the program, so it is treated as unreadable.
constexpr off_t kMaxFileSize = 1 << 20;

// How long a writer waits for another writer of the same folder to finish.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockPoll = std::chrono::milliseconds(5);

constexpr int kMaxLinkHops = 40;
constexpr int kTemporaryAttempts = 64;

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

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

}  // namespace

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::optional<std::string> ReadSettingsFile(const std::string& path) {
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

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
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

FolderLock::FolderLock(const std::string& dir)
    : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (fd_.get() >= 0 && flock(fd_.get(), LOCK_EX | LOCK_NB) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kLockPoll);
    }
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

}  // namespace platform
