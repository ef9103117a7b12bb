#include "platform/session/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// The settings file as the system knows it: its links followed, or, for a
// file not yet there, its folder's.
std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (realpath(dir.c_str(), resolved) == nullptr) {
        return path;
    }
    return std::string(resolved) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// FNV-1a: a short stable name for a path of any length.
std::uint64_t Fingerprint(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

socklen_t Address(const std::string& name, sockaddr_un& addr) {
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
}

// Whether the process at the other end of a connected socket is this user's.
bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t len = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0 && peer.uid == getuid();
}

}  // namespace

SingleInstance::SingleInstance(const std::string& settingsPath) {
    char name[64];
    std::snprintf(name, sizeof name, "kestrome-%u-%016llx", static_cast<unsigned>(getuid()),
                  static_cast<unsigned long long>(Fingerprint(ResolvedPath(settingsPath))));
    address_ = std::string(1, '\0') + name;
}

SingleInstance::~SingleInstance() {
    notifier_.reset();
    if (listenFd_ >= 0) {
        close(listenFd_);
    }
}

// Two starts at once: one of them binds the name, the other then finds it.
bool SingleInstance::Claim() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (AskRunningToShow()) {
            return false;
        }
        if (Listen()) {
            return true;
        }
    }
    return true;  // the name is taken by someone else: run without it
}

// The request waits in the running program's queue if it is busy.
bool SingleInstance::AskRunningToShow() const {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr;
    const socklen_t len = Address(address_, addr);
    const bool asked =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && PeerIsThisUser(fd);
    if (fd >= 0) {
        close(fd);
    }
    return asked;
}

bool SingleInstance::Listen() {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr;
    const socklen_t len = Address(address_, addr);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 8) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    listenFd_ = fd;
    return true;
}

void SingleInstance::OnShowRequest(std::function<void()> onShowRequest) {
    if (listenFd_ < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(listenFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                     [fd = listenFd_, onShowRequest = std::move(onShowRequest)] {
                         for (int client;
                              (client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                             const bool ours = PeerIsThisUser(client);
                             close(client);
                             if (ours) {
                                 onShowRequest();
                             }
                         }
                     });
}

}  // namespace platform
