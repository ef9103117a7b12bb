#include "service/common/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace service {

namespace {

constexpr std::size_t kMaxBytes = 65536;

std::optional<std::string> ReadSmall(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxBytes) {
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Why a file of this kind may not hold a secret; empty when it may.
std::string Unfit(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
        return "is not a regular file";
    }
    // Root may own it too: root reads every file anyway, and systemd's
    // credentials may stay root's with the service's user let read them.
    if (st.st_uid != geteuid() && st.st_uid != 0) {
        return "belongs to another user (uid " + std::to_string(st.st_uid) +
               "); it must belong to the user the service runs as, or to root";
    }
    if ((st.st_mode & 077) != 0) {
        return "can be read by others; make it readable by its owner only (chmod 600)";
    }
    return "";
}

}  // namespace

std::optional<std::string> ReadPrivateFile(const std::string& path, const std::string& what,
                                           std::string& error) {
    // Not blocking: a FIFO put in its place must not hold the start.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read " + what + " " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    const std::string unfit = fstat(fd, &st) != 0 ? std::strerror(errno) : Unfit(st);
    std::optional<std::string> text = unfit.empty() ? ReadSmall(fd) : std::nullopt;
    close(fd);
    if (!unfit.empty()) {
        error = what + " " + path + " " + unfit;
    } else if (!text) {
        error = "cannot read " + what + " " + path + " (more than 64 KiB?)";
    }
    return text;
}

}  // namespace service
