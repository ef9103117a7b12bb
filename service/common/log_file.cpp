#include "service/common/log_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/common/log_line.h"

namespace service {

std::string LogFileName() {
    struct stat log {};
    char path[PATH_MAX];
    if (fstat(STDERR_FILENO, &log) != 0 || !S_ISREG(log.st_mode)) {
        return {};
    }
    const ssize_t length = readlink("/proc/self/fd/2", path, sizeof path);
    if (length <= 0 || length == ssize_t(sizeof path) || path[0] != '/') {
        return {};
    }
    return std::string(path, std::size_t(length));
}

std::string ReopenLogFile(const std::string& name) {
    if (name.empty()) {
        return "SIGHUP: the log is not a file, nothing to reopen";
    }
    const int file = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        const std::string why = std::strerror(errno);
        return "SIGHUP: cannot reopen the log " + LogSafe(name) + " (" + why +
               "); it goes on where it was";
    }
    dup2(file, STDERR_FILENO);
    close(file);
    return "SIGHUP: reopened the log " + LogSafe(name);
}

}  // namespace service
